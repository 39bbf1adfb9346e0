#include "platform/linux/pulse_audio.h"

#include <alsa/asoundlib.h>
#include <pulse/pulseaudio.h>

#include <mutex>

namespace kv::platform::linux_ {
namespace {

// One connection to the sound server with its own mainloop thread. Every request waits for its
// answer, and a connection that fails wakes every waiter, so nothing hangs on a dead server.
class PulseConnection {
 public:
  explicit PulseConnection(const std::string& appName) {
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) return;
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), appName.c_str());
    if (!context_) return;
    pa_context_set_state_callback(context_, &PulseConnection::OnState, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return;
    if (pa_threaded_mainloop_start(loop_) < 0) return;
    started_ = true;
    Lock lock(*this);
    for (;;) {
      const auto state = pa_context_get_state(context_);
      if (state == PA_CONTEXT_READY) {
        ready_ = true;
        break;
      }
      if (!PA_CONTEXT_IS_GOOD(state)) break;
      pa_threaded_mainloop_wait(loop_);
    }
  }
  ~PulseConnection() {
    if (started_) {
      {
        Lock lock(*this);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
      }
      pa_threaded_mainloop_stop(loop_);  // joins the thread: no callback runs after this
    }
    if (context_) pa_context_unref(context_);
    if (loop_) pa_threaded_mainloop_free(loop_);
  }
  bool Ready() const { return ready_; }

  struct Lock {
    explicit Lock(PulseConnection& c) : c(c) { pa_threaded_mainloop_lock(c.loop_); }
    ~Lock() { pa_threaded_mainloop_unlock(c.loop_); }
    PulseConnection& c;
  };
  // With the lock held: waits until `op` is done or the connection has failed.
  bool Wait(pa_operation* op) {
    if (!op) return false;
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING &&
           PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)))
      pa_threaded_mainloop_wait(loop_);
    const bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
    pa_operation_unref(op);
    return done;
  }
  void Signal() { pa_threaded_mainloop_signal(loop_, 0); }

  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;

 private:
  static void OnState(pa_context*, void* self) { static_cast<PulseConnection*>(self)->Signal(); }
  bool started_ = false, ready_ = false;
};

struct SourceQuery {
  PulseConnection* connection;
  bool found = false;
  bool muted = false;
  std::uint32_t index = PA_INVALID_INDEX;
  VolumeNotification volume;
};

void OnSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
  auto* q = static_cast<SourceQuery*>(userdata);
  if (eol == 0 && info) {
    q->found = true;
    q->muted = info->mute != 0;
    q->index = info->index;
    q->volume.muted = q->muted;
    q->volume.masterVolume = static_cast<float>(pa_cvolume_avg(&info->volume)) / PA_VOLUME_NORM;
    q->volume.channelVolumes.clear();
    for (unsigned i = 0; i < info->volume.channels; ++i)
      q->volume.channelVolumes.push_back(static_cast<float>(info->volume.values[i]) /
                                         PA_VOLUME_NORM);
  }
  q->connection->Signal();
}

class PulseEndpoint : public CaptureEndpoint {
 public:
  PulseEndpoint(std::unique_ptr<PulseConnection> connection, std::string source,
                std::uint32_t index)
      : c_(std::move(connection)), source_(std::move(source)), index_(index) {}
  ~PulseEndpoint() override { c_.reset(); }

  std::optional<bool> GetMute() override {
    PulseConnection::Lock lock(*c_);
    SourceQuery q{c_.get(), false, false, PA_INVALID_INDEX, {}};
    if (!c_->Wait(
            pa_context_get_source_info_by_name(c_->context_, source_.c_str(), OnSourceInfo, &q)) ||
        !q.found)
      return std::nullopt;
    return q.muted;
  }

  bool SetMute(bool muted) override {
    PulseConnection::Lock lock(*c_);
    struct Result {
      PulseConnection* c;
      bool ok = false;
    } r{c_.get()};
    auto done = [](pa_context*, int success, void* userdata) {
      auto* res = static_cast<Result*>(userdata);
      res->ok = success != 0;
      res->c->Signal();
    };
    return c_->Wait(pa_context_set_source_mute_by_name(c_->context_, source_.c_str(), muted, done,
                                                       &r)) &&
           r.ok;
  }

  bool RegisterVolumeNotify(VolumeNotify notify) override {
    PulseConnection::Lock lock(*c_);
    notify_ = std::move(notify);
    pa_context_set_subscribe_callback(c_->context_, &PulseEndpoint::OnEvent, this);
    auto ok = [](pa_context*, int, void* userdata) {
      static_cast<PulseConnection*>(userdata)->Signal();
    };
    return c_->Wait(pa_context_subscribe(c_->context_, PA_SUBSCRIPTION_MASK_SOURCE, ok, c_.get()));
  }

 private:
  // On the mainloop thread (the audio system's own), with its lock held.
  static void OnEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index,
                      void* self) {
    auto* me = static_cast<PulseEndpoint*>(self);
    if (index != me->index_ ||
        (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) != PA_SUBSCRIPTION_EVENT_CHANGE)
      return;
    auto report = [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
      auto* endpoint = static_cast<PulseEndpoint*>(userdata);
      if (eol != 0 || !info || !endpoint->notify_) return;
      SourceQuery q{endpoint->c_.get(), false, false, PA_INVALID_INDEX, {}};
      OnSourceInfo(nullptr, info, 0, &q);
      endpoint->notify_(q.volume);
    };
    if (auto* op = pa_context_get_source_info_by_index(context, index, report, me))
      pa_operation_unref(op);
  }

  std::unique_ptr<PulseConnection> c_;
  std::string source_;
  std::uint32_t index_;
  VolumeNotify notify_;
};

// --- ALSA ---------------------------------------------------------------------------------------

struct AlsaMixerHandle {
  snd_mixer_t* mixer = nullptr;
  ~AlsaMixerHandle() {
    if (mixer) snd_mixer_close(mixer);
  }
};

// Opens the card's mixer and finds the microphone's element: the first capture element named
// like a microphone, else "Capture".
MixerResult FindMicrophone(const std::string& card, AlsaMixerHandle& handle,
                           snd_mixer_elem_t*& element) {
  if (snd_mixer_open(&handle.mixer, 0) < 0) return MixerResult::NoDevice;
  if (snd_mixer_attach(handle.mixer, card.c_str()) < 0) return MixerResult::NoDevice;
  if (snd_mixer_selem_register(handle.mixer, nullptr, nullptr) < 0 ||
      snd_mixer_load(handle.mixer) < 0)
    return MixerResult::OpenFailed;
  snd_mixer_elem_t* fallback = nullptr;
  element = nullptr;
  for (auto* e = snd_mixer_first_elem(handle.mixer); e; e = snd_mixer_elem_next(e)) {
    const std::string name = snd_mixer_selem_get_name(e);
    if (name.find("Mic") != std::string::npos &&
        (snd_mixer_selem_has_capture_volume(e) || snd_mixer_selem_has_capture_switch(e))) {
      element = e;
      break;
    }
    if (name == "Capture" && !fallback) fallback = e;
  }
  if (!element) element = fallback;
  if (!element) return MixerResult::NoMicrophoneLine;
  if (!snd_mixer_selem_has_capture_switch(element)) return MixerResult::NoMuteControl;
  return MixerResult::Ok;
}

}  // namespace

std::unique_ptr<CaptureEndpoint> PulseAudio::OpenDefaultCaptureEndpoint() {
  auto connection = std::make_unique<PulseConnection>(appName_);
  if (!connection->Ready()) return nullptr;
  std::string source;
  {
    PulseConnection::Lock lock(*connection);
    struct Info {
      PulseConnection* c;
      std::string source;
    } info{connection.get(), {}};
    auto onServer = [](pa_context*, const pa_server_info* server, void* userdata) {
      auto* i = static_cast<Info*>(userdata);
      if (server && server->default_source_name) i->source = server->default_source_name;
      i->c->Signal();
    };
    if (!connection->Wait(pa_context_get_server_info(connection->context_, onServer, &info)) ||
        info.source.empty())
      return nullptr;
    source = info.source;
    SourceQuery q{connection.get(), false, false, PA_INVALID_INDEX, {}};
    if (!connection->Wait(pa_context_get_source_info_by_name(connection->context_, source.c_str(),
                                                             OnSourceInfo, &q)) ||
        !q.found)
      return nullptr;
    return std::make_unique<PulseEndpoint>(std::move(connection), source, q.index);
  }
}

MixerResult AlsaMixer::GetMicrophoneMute(bool& muted) {
  AlsaMixerHandle handle;
  snd_mixer_elem_t* element = nullptr;
  if (auto r = FindMicrophone(card_, handle, element); r != MixerResult::Ok) return r;
  int on = 0;
  if (snd_mixer_selem_get_capture_switch(element, SND_MIXER_SCHN_FRONT_LEFT, &on) < 0)
    return MixerResult::DetailsFailed;
  muted = on == 0;
  return MixerResult::Ok;
}

MixerResult AlsaMixer::SetMicrophoneMute(bool muted) {
  AlsaMixerHandle handle;
  snd_mixer_elem_t* element = nullptr;
  if (auto r = FindMicrophone(card_, handle, element); r != MixerResult::Ok) return r;
  return snd_mixer_selem_set_capture_switch_all(element, muted ? 0 : 1) < 0
             ? MixerResult::DetailsFailed
             : MixerResult::Ok;
}

}  // namespace kv::platform::linux_
