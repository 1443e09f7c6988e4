#include "sim/Bench.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "config/IniFile.h"
#include "platform/DebugOutput.h"
#include "sim/SampleData.h"
#include "sim/Trace.h"

namespace qk::sim {

namespace {
const std::string kPathPrefix = "/dev/bench/";
// Device numbers of the bench's drives: a local/experimental major, 16 minors per drive.
constexpr std::uint32_t kBenchMajor = 240;
}  // namespace

std::string Bench::devicePathFor(const std::string& driveName) { return kPathPrefix + driveName; }

std::unique_ptr<Bench> Bench::load(const std::string& path, const BenchOptions& options, std::string& error) {
  BenchConfig config;
  BenchParseOptions parse;
  parse.flashKnown = options.flashKnown;
  if (!ParseBenchFile(path, parse, config, error)) return nullptr;
  return fromConfig(std::move(config), options, error);
}

std::unique_ptr<Bench> Bench::fromConfig(BenchConfig config, const BenchOptions& options, std::string& error) {
  std::unique_ptr<Bench> bench(new Bench());
  bench->config_ = std::move(config);
  if (options.clock) {
    bench->clock_ = options.clock;
    bench->timeoutClock_ = options.clock;
  } else {
    bench->ownClock_ = std::make_unique<ScaledClock>(bench->config_.timeScale);
    bench->clock_ = bench->ownClock_.get();
    // Time-outs arrive already scaled by the station; the drive waits them out in real time.
    bench->timeoutClock_ = &bench->realClock_;
  }
  bench->flashList_ = options.flashList;
  for (const auto& cfg : bench->config_.drives) {
    auto drive = bench->makeDrive(cfg, error);
    if (!drive) return nullptr;
    bench->driveOrder_.push_back(drive.get());
    bench->drives_[toLower(cfg.name)] = std::move(drive);
  }
  for (const auto& d : bench->config_.devices) bench->devicePresent_[toLower(d.name)] = d.plugged;
  if (!bench->config_.tracePath.empty()) {
    std::string why;
    bench->trace_ = Trace::create(bench->config_.tracePath, why);
    if (!bench->trace_) {
      error = bench->config_.file + ": [Bench] Trace: " + why;
      return nullptr;
    }
  }
  bench->startMs_ = bench->clock_->nowMs();
  return bench;
}

std::unique_ptr<SimDrive> Bench::makeDrive(const DriveSpec& cfg, std::string& error) const {
  std::unique_ptr<UserData> data;
  if (cfg.storePath.empty()) {
    data = UserData::inMemory(cfg.sectors);
  } else {
    std::string why;
    data = UserData::inFile(cfg.storePath, cfg.sectors, why);
    if (!data) {
      error = config_.file + ": [" + cfg.name + "] Store: " + why;
      return nullptr;
    }
  }
  FlashType type;
  FindFlashType(flashList_.empty() ? SampleFlashList() : flashList_, cfg.flash, type);
  // Chips whose ID word decodes to an empty page, block or chip enable cannot be simulated.
  if (type.pageSectors() == 0 || type.pagesPerBlock() == 0 || type.blocksPerCe() == 0) {
    error = config_.file + ": [" + cfg.name + "] Flash: " + type.name + " (ID word " + std::to_string(type.idWord) +
            ") decodes to a shape no drive can hold";
    return nullptr;
  }
  auto drive = std::make_unique<SimDrive>(cfg, std::move(data), type);
  if (!drive->loadError().empty()) {
    error = config_.file + ": [" + cfg.name + "] Persist: " + drive->loadError();
    return nullptr;
  }
  return drive;
}

SimDrive* Bench::addDrive(DriveSpec desc, std::string& error) {
  desc.plugged = false;
  auto drive = makeDrive(desc, error);
  if (!drive) return nullptr;
  drive->setPresent(false);
  std::unique_lock lock(drivesMutex_);
  auto [it, fresh] = drives_.emplace(toLower(desc.name), std::move(drive));
  if (!fresh) {
    error = "a drive named " + desc.name + " is on the bench already";
    return nullptr;
  }
  driveOrder_.push_back(it->second.get());
  return it->second.get();
}

Bench::Bench() : passThrough_(*this) {}

Bench::~Bench() { stopEvents(); }

std::vector<Attachment> Bench::attachments() const {
  std::vector<Attachment> out;
  std::shared_lock drivesLock(drivesMutex_);
  for (const SimDrive* d : driveOrder_) {
    const DriveSpec& cfg = d->cfg();
    Attachment a;
    a.name = cfg.name;
    a.kind = AttachmentKind::Drive;
    a.hub = cfg.hub;
    a.port = cfg.port;
    const SimDrive& drive = *d;
    const auto usb = drive.usbIdentity();
    a.vendorId = usb.vendorId;
    a.productId = usb.productId;
    a.usbSerial = usb.serial;
    a.present = drive.present();
    a.devicePath = devicePathFor(cfg.name);
    out.push_back(std::move(a));
  }
  drivesLock.unlock();
  std::lock_guard lock(mutex_);
  for (const auto& cfg : config_.devices) {
    Attachment a;
    a.name = cfg.name;
    a.kind = AttachmentKind::Device;
    a.hub = cfg.hub;
    a.port = cfg.port;
    a.vendorId = cfg.vendorId;
    a.productId = cfg.productId;
    a.usbSerial = cfg.usbSerial;
    a.present = devicePresent_.at(toLower(cfg.name));
    out.push_back(std::move(a));
  }
  return out;
}

SimDrive* Bench::drive(const std::string& name) {
  std::shared_lock lock(drivesMutex_);
  auto it = drives_.find(toLower(name));
  return it == drives_.end() ? nullptr : it->second.get();
}

SimDrive* Bench::driveByPath(const std::string& path) {
  if (path.compare(0, kPathPrefix.size(), kPathPrefix) != 0) return nullptr;
  const std::string_view name = std::string_view(path).substr(kPathPrefix.size());
  // Every command finds its drive here: the name is lower-cased on the stack.
  char lower[64];
  if (name.size() > sizeof lower) return drive(std::string(name));
  for (std::size_t i = 0; i < name.size(); ++i) {
    lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
  }
  std::shared_lock lock(drivesMutex_);
  auto it = drives_.find(std::string_view(lower, name.size()));
  return it == drives_.end() ? nullptr : it->second.get();
}

bool Bench::isPresent(const std::string& name) const {
  {
    std::shared_lock drivesLock(drivesMutex_);
    auto it = drives_.find(toLower(name));
    if (it != drives_.end()) return it->second->present();
  }
  std::lock_guard lock(mutex_);
  auto d = devicePresent_.find(toLower(name));
  return d != devicePresent_.end() && d->second;
}

bool Bench::portTaken(const std::string& name) const {
  std::shared_lock lock(drivesMutex_);
  const DriveSpec* mine = nullptr;
  for (const SimDrive* d : driveOrder_) {
    if (d->name() == name) mine = &d->cfg();
  }
  if (!mine) return false;
  for (const SimDrive* d : driveOrder_) {
    if (d->name() == name || d->cfg().hub != mine->hub || d->cfg().port != mine->port) continue;
    if (d->present()) return true;
  }
  return false;
}

bool Bench::setPresent(const std::string& name, bool present) {
  BenchEvent event;
  event.plug = present;
  bool changed = false;
  {
    std::lock_guard lock(mutex_);
    SimDrive* d = drive(name);
    if (d && present && !d->present() && portTaken(d->name())) return false;
    if (d) {
      event.name = d->name();
      event.kind = AttachmentKind::Drive;
      changed = d->present() != present;
      d->setPresent(present);
      // Unplugging cuts the power; plugging in boots the drive afresh.
      if (changed && present) d->powerOn();
      if (changed && !present) d->powerOff();
    } else {
      auto d = devicePresent_.find(toLower(name));
      if (d == devicePresent_.end()) return false;
      event.kind = AttachmentKind::Device;
      for (const auto& cfg : config_.devices) {
        if (toLower(cfg.name) == d->first) event.name = cfg.name;
      }
      changed = d->second != present;
      d->second = present;
    }
  }
  if (changed) notify(event);
  return true;
}

void Bench::notify(BenchEvent event) {
  std::vector<std::function<void(const BenchEvent&)>> listeners;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [id, l] : listeners_) listeners.push_back(l);
  }
  event.atMs = clock_->nowMs() - startMs_;
  debugPrintf("bench: %s %s", event.plug ? "plug" : "unplug", event.name.c_str());
  for (const auto& l : listeners) l(event);
}

bool Bench::plug(const std::string& name) { return setPresent(name, true); }
bool Bench::unplug(const std::string& name) { return setPresent(name, false); }

int Bench::addListener(std::function<void(const BenchEvent&)> listener) {
  std::lock_guard lock(mutex_);
  int id = nextListener_++;
  listeners_[id] = std::move(listener);
  return id;
}

void Bench::removeListener(int id) {
  std::lock_guard lock(mutex_);
  listeners_.erase(id);
}

void Bench::runEvents(std::stop_token stop) {
  // Event times are fixed waits of the bench: the clock applies the time factor.
  std::int64_t previous = 0;
  for (const auto& e : config_.events) {
    if (e.atMs > previous && !clock_->sleepFor(e.atMs - previous, stop)) return;
    previous = std::max(previous, e.atMs);
    if (stop.stop_requested()) return;
    setPresent(e.target, e.plug);
  }
}

void Bench::startEvents() {
  stopEvents();
  eventThread_ = std::jthread([this](std::stop_token stop) { runEvents(stop); });
}

void Bench::stopEvents() {
  if (eventThread_.joinable()) {
    eventThread_.request_stop();
    eventThread_.join();
  }
}

PassThroughResult Bench::execute(const std::string& path, const PassThroughRequest& request) {
  PassThroughResult result;
  SimDrive* d = driveByPath(path);
  if (!d || !d->present()) {
    // Nothing behind the path: the open fails.
    result.osError = 2;  // ENOENT
    if (d && trace_) trace_->record(d->name(), request, false);
    return result;
  }
  result.sent = true;
  SimCommand cmd;
  cmd.cdb = request.cdb;
  cmd.cdbLength = request.cdbLength;
  cmd.direction = request.direction;
  cmd.data = request.direction == DataDirection::None ? nullptr : request.buffer;
  cmd.length = request.direction == DataDirection::None ? 0 : request.length;
  SimReply reply = d->execute(cmd);
  if (reply.outcome == SimReply::Outcome::Completed) takeTransferTime(*d, request, reply.transferred);
  switch (reply.outcome) {
    case SimReply::Outcome::Completed:
      result.completed = true;
      result.scsiStatus = reply.status;
      result.transferred = reply.transferred;
      break;
    case SimReply::Outcome::Dropped:
      result.osError = 5;  // EIO
      break;
    case SimReply::Outcome::NoAnswer: {
      std::stop_token reset;
      {
        std::lock_guard lock(resetMutex_);
        reset = resets_[d].get_token();
      }
      timeoutClock_->sleepFor(request.timeoutMs, reset);
      result.osError = 110;  // ETIMEDOUT
      break;
    }
      break;
    case SimReply::Outcome::Pulled:
      result.osError = 19;  // ENODEV
      break;
  }
  if (trace_) trace_->record(d->name(), request, result.completed && result.scsiStatus == kScsiStatusGood);
  if (reply.outcome == SimReply::Outcome::Pulled) {
    // The drive already counts as gone; tell the listeners as a pulled cable would.
    BenchEvent event;
    event.name = d->name();
    notify(event);
  }
  return result;
}

void Bench::takeTransferTime(SimDrive& drive, const PassThroughRequest& request, std::uint32_t transferred) {
  const double speed = drive.cfg().speedMBps;
  const std::uint8_t op = request.cdbLength > 0 ? request.cdb[0] : 0;
  if (speed <= 0 || transferred == 0 || (op != 0x28 && op != 0x2A)) return;
  // Waited in pieces of 100 ms of bench time: tiny real sleeps would cost more than they model.
  constexpr double kPieceMs = 100;
  double wait = 0;
  std::stop_token reset;
  {
    std::lock_guard lock(resetMutex_);
    double& owed = owedMs_[&drive];
    owed += transferred * 1000.0 / (speed * 1048576.0);
    if (owed < kPieceMs) return;
    wait = owed;
    owed = 0;
    reset = resets_[&drive].get_token();
  }
  clock_->sleepFor(static_cast<std::int64_t>(wait), reset);
}

bool Bench::reset(const std::string& path) {
  SimDrive* d = driveByPath(path);
  if (!d) return false;
  std::lock_guard lock(resetMutex_);
  std::stop_source& source = resets_[d];
  source.request_stop();
  source = std::stop_source();
  return true;
}

bool Bench::deviceNumber(const std::string& path, DeviceNumber& out) const {
  auto* self = const_cast<Bench*>(this);
  SimDrive* d = self->driveByPath(path);
  if (!d || !d->present()) return false;
  out.blockDevice = true;
  out.major = kBenchMajor;
  out.minor = static_cast<std::uint32_t>(d->cfg().number) * 16;
  return true;
}

}  // namespace qk::sim
