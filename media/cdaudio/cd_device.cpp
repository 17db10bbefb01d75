#include "media/cdaudio/cd_device.h"

namespace plimra::cdaudio {

using namespace plimra::mci;

namespace {
// Prev within this much of a track's start goes to the track before.
constexpr int32_t kPrevGrace = 2 * kSectorsPerSecond;
}  // namespace

uint32_t CdAudioDevice::open(const std::string& element) {
  if (drive_) return err::None;
  drive_ = Drive::acquire(element.empty() ? Drive::configuredSource() : element);
  drive_->refreshNow();
  return err::None;
}

uint32_t CdAudioDevice::close() {
  if (!drive_) return err::None;
  drive_->stop();
  drive_.reset();
  return err::None;
}

uint32_t CdAudioDevice::play(const PlayParams& params, NotifyFn notify) {
  if (!drive_) return err::DeviceNotReady;
  DriveStatus s = drive_->status();
  if (s.presence != Presence::Ready) return err::DeviceNotReady;
  if (!params.from && !params.to && s.state == PlayState::Paused &&
      drive_->resumeAsPlay(notify) == err::None)
    return err::None;
  int32_t from = s.head, to = s.toc->leadout;
  if (params.from) {
    auto sector = toSector(*s.toc, format_, *params.from);
    if (!sector) return err::OutOfRange;
    from = *sector;
  }
  if (params.to) {
    auto sector = toSector(*s.toc, format_, *params.to);
    if (!sector) return err::OutOfRange;
    to = *sector;
  }
  if (from >= s.toc->leadout) {
    // At the end of the disc, "play" starts the disc over.
    if (params.from) return err::OutOfRange;
    from = s.toc->firstAudio() ? s.toc->firstAudio()->start : 0;
  }
  if (to <= from) return err::OutOfRange;
  return drive_->play(from, to, std::move(notify));
}

uint32_t CdAudioDevice::stop() { return drive_ ? drive_->stop() : err::DeviceNotReady; }
uint32_t CdAudioDevice::pause() { return drive_ ? drive_->pause() : err::DeviceNotReady; }
uint32_t CdAudioDevice::resume() { return drive_ ? drive_->resume() : err::DeviceNotReady; }

uint32_t CdAudioDevice::seek(const SeekParams& params) {
  if (!drive_) return err::DeviceNotReady;
  DriveStatus s = drive_->status();
  if (s.presence != Presence::Ready) return err::DeviceNotReady;
  int32_t sector = 0;
  switch (params.where) {
    case SeekParams::Where::Start:
      sector = s.toc->firstAudio() ? s.toc->firstAudio()->start : s.toc->tracks.front().start;
      break;
    case SeekParams::Where::End:
      sector = s.toc->leadout;
      break;
    case SeekParams::Where::To: {
      auto to = toSector(*s.toc, format_, params.to);
      if (!to) return err::OutOfRange;
      sector = *to;
      break;
    }
  }
  return drive_->seek(sector);
}

uint32_t CdAudioDevice::jump(int32_t sector) {
  DriveStatus s = drive_->status();
  if (s.state == PlayState::Playing) return drive_->play(sector, s.toc->leadout, nullptr);
  return drive_->seek(sector);
}

uint32_t CdAudioDevice::prev() {
  if (!drive_) return err::DeviceNotReady;
  DriveStatus s = drive_->status();
  if (s.presence != Presence::Ready) return err::DeviceNotReady;
  const Toc& toc = *s.toc;
  const Track* here = &toc.trackAt(s.head);
  int32_t target = here->start;
  if (s.head - here->start < kPrevGrace) {
    for (const Track* t = here; t != toc.tracks.data();) {
      --t;
      if (t->audio) {
        target = t->start;
        break;
      }
    }
  }
  if (!toc.trackAt(target).audio) target = toc.nextAudioSector(target, toc.leadout);
  return jump(target);
}

uint32_t CdAudioDevice::next() {
  if (!drive_) return err::DeviceNotReady;
  DriveStatus s = drive_->status();
  if (s.presence != Presence::Ready) return err::DeviceNotReady;
  const Toc& toc = *s.toc;
  const Track& here = toc.trackAt(s.head);
  for (const Track& t : toc.tracks)
    if (t.audio && t.start > here.start && t.start > s.head) return jump(t.start);
  return err::None;  // already in the last audio track
}

uint32_t CdAudioDevice::status(const StatusParams& params, StatusValue& out) {
  DriveStatus s = drive_ ? drive_->status() : DriveStatus{};
  const bool ready = s.presence == Presence::Ready && s.toc;
  switch (params.item) {
    case StatusItem::Mode: {
      out.kind = StatusValue::Kind::Mode;
      if (ready) {
        out.value = s.state == PlayState::Playing  ? ModePlaying
                    : s.state == PlayState::Paused ? ModePaused
                                                   : ModeStopped;
      } else {
        out.value = s.presence == Presence::DoorOpen ? ModeOpen : ModeNotReady;
      }
      return err::None;
    }
    case StatusItem::MediaPresent:
    case StatusItem::Ready:
      out.kind = StatusValue::Kind::Boolean;
      out.value = ready ? 1 : 0;
      return err::None;
    case StatusItem::TimeFormat:
      out.kind = StatusValue::Kind::TimeFormatName;
      out.value = static_cast<uint32_t>(format_);
      return err::None;
    default:
      break;
  }
  if (!ready) return err::DeviceNotReady;
  const Toc& toc = *s.toc;
  const Track* track = nullptr;
  if (params.track) {
    if (*params.track > 99 || !(track = toc.track(static_cast<int>(*params.track))))
      return err::OutOfRange;
  }
  const bool ms = format_ == TimeFormat::Milliseconds;
  switch (params.item) {
    case StatusItem::NumberOfTracks:
      out.kind = StatusValue::Kind::Integer;
      out.value = static_cast<uint32_t>(toc.count());
      return err::None;
    case StatusItem::CurrentTrack:
      out.kind = StatusValue::Kind::Integer;
      out.value = static_cast<uint32_t>(toc.trackAt(s.head).number);
      return err::None;
    case StatusItem::Length: {
      // A length is a duration: msf even in tmsf.
      int32_t sectors = track ? toc.trackEnd(track->number) - track->start : toc.discLength();
      out.kind = StatusValue::Kind::Time;
      out.format = ms ? TimeFormat::Milliseconds : TimeFormat::Msf;
      out.value = ms ? sectorsToMs(sectors) : packMsfDuration(sectors);
      return err::None;
    }
    case StatusItem::Position:
    case StatusItem::StartPosition: {
      int32_t sector = track                                      ? track->start
                       : params.item == StatusItem::StartPosition ? toc.tracks.front().start
                                                                  : s.head;
      out.kind = StatusValue::Kind::Time;
      out.format = format_;
      out.value = fromSector(toc, format_, sector);
      return err::None;
    }
    default:
      return err::UnsupportedFunction;
  }
}

uint32_t CdAudioDevice::setTimeFormat(TimeFormat format) {
  switch (format) {
    case TimeFormat::Milliseconds:
    case TimeFormat::Msf:
    case TimeFormat::Tmsf:
      format_ = format;
      return err::None;
    default:
      return err::BadTimeFormat;
  }
}

uint32_t CdAudioDevice::setDoor(bool open) {
  return drive_ ? drive_->setDoor(open) : err::DeviceNotReady;
}

}  // namespace plimra::cdaudio
