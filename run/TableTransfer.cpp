#include "run/TableTransfer.h"

#include <filesystem>
#include <system_error>

#include "app/Station.h"
#include "platform/DebugOutput.h"
#include "protocol/ControllerOps.h"
#include "protocol/FlashTables.h"
#include "protocol/ProductionSteps.h"
#include "run/PortWorker.h"

namespace qk {

namespace {

constexpr int kAfterPutWaitMs = 300;
constexpr std::uint8_t kNoDefectTable = 2;

const char* transferName(TableTransferKind kind) {
  switch (kind) {
    case TableTransferKind::GetDefect: return "Get Def. Table";
    case TableTransferKind::PutDefect: return "Put Def. Table";
    case TableTransferKind::GetLater: return "Get Later Table";
    case TableTransferKind::PutLater: return "Put Later Table";
  }
  return "";
}

// What an output file looked like before a get, so that a failed get removes
// only what it wrote itself.
struct FileMark {
  bool existed = false;
  std::filesystem::file_time_type time{};
  std::uintmax_t size = 0;
};

FileMark markOf(const std::string& path) {
  FileMark m;
  std::error_code ec;
  m.existed = std::filesystem::exists(path, ec);
  if (m.existed) {
    m.time = std::filesystem::last_write_time(path, ec);
    m.size = std::filesystem::file_size(path, ec);
  }
  return m;
}

void removeIfWritten(const std::string& path, const FileMark& before) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return;
  FileMark now = markOf(path);
  if (!before.existed || now.time != before.time || now.size != before.size) std::filesystem::remove(path, ec);
}

}  // namespace

std::string TableTransferOkText(TableTransferKind kind) { return std::string(transferName(kind)) + " O.K."; }
std::string TableTransferFailText(TableTransferKind kind) { return std::string(transferName(kind)) + " Fail"; }

TableTransferOutcome RunTableTransfer(Station& station, TableTransferKind kind, const std::string& file,
                                      std::stop_token stop) {
  TableTransferOutcome out;
  const PortTable& ports = station.scanner().ports();
  for (int p = 0; p < SlotLimit && out.slot < 0; ++p) {
    if (ports[static_cast<std::size_t>(p)].active != 0) out.slot = p;
  }
  if (out.slot < 0) return out;
  out.ran = true;
  auto tell = [&](const std::string& text) {
    out.message = text;
    station.op().showMessage(text);
    return out;
  };

  ControllerContext& ctx = station.controller(out.slot);
  ControllerOps ops(station.transport(), ctx, stop);
  ProductionSteps steps(ops);
  std::uint8_t* buffer = ctx.buffers.first();
  if (!buffer) return tell(TableTransferFailText(kind));
  if (station.profile().settings.SpecialMode != 0 && !steps.FlashModuleTest(buffer))
    return tell("Check Flash Module Fail. Please choose a correct flash module");
  if (!steps.FindSystemBlocks(buffer)) return tell("Get Block Fail.");

  const std::string path = file.empty() ? std::string() : station.folder().resolve(file);
  const int firmwareType = FirmwareFamilyCode(station.firmwareTexts().family);
  const FileMark before = markOf(path);
  switch (kind) {
    case TableTransferKind::GetDefect:
      out.ok = GetDefectTable(ops, buffer, path, firmwareType);
      break;
    case TableTransferKind::PutDefect:
      out.ok = PutDefectTable(ops, buffer, path, firmwareType);
      if (out.ok && ops.wait(kAfterPutWaitMs)) {
        // The drive checks the table it was given; its answer is only logged.
        std::uint8_t status = 0;
        const std::uint8_t modeFlag = ctx.params.TwoPlane != 0 ? 0x02 : 0;
        if (ops.RunProgramTask(1, modeFlag, status, false) && status == kNoDefectTable)
          debugPrintf("\n<WARNING> Defect table doesn't exist\n");
      }
      break;
    case TableTransferKind::GetLater:
      out.ok = GetLaterTable(ops, buffer, path, firmwareType);
      break;
    case TableTransferKind::PutLater:
      out.ok = PutLaterTable(ops, buffer, path);
      break;
  }
  if (!out.ok && !path.empty() && (kind == TableTransferKind::GetDefect || kind == TableTransferKind::GetLater))
    removeIfWritten(path, before);
  return tell(out.ok ? TableTransferOkText(kind) : TableTransferFailText(kind));
}

}  // namespace qk
