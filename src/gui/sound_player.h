#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QObject>

class QSoundEffect;
class QTemporaryFile;

namespace sentrel {

// Alarm sounds: one WAV at a time, as the next alarm's sound replaces the one
// that plays; once or in a loop until stopped. Playback is asynchronous and a
// file that cannot be played, or a system without an audio device, never
// blocks anything: `notice` gets one line saying why there is no sound, once
// per run. Window thread only.
class SoundPlayer final : public QObject {
 public:
  explicit SoundPlayer(std::function<void(const std::string&)> notice, QObject* parent = nullptr);
  ~SoundPlayer() override;

  // An empty file stops every sound.
  void Play(const std::string& wavFile, bool loop);
  void StopAll();
  // The 800 Hz, 250 ms tone, made once as a WAV file of its own.
  void Beep();

 private:
  void Start(QSoundEffect& effect, const QString& file, int loops);
  void Complain(const std::string& why);

  std::function<void(const std::string&)> notice_;
  bool complained_ = false;
  QSoundEffect* alarm_ = nullptr;
  QSoundEffect* beep_ = nullptr;
  std::unique_ptr<QTemporaryFile> toneFile_;
};

// The bytes of a 16-bit mono PCM WAV file holding a sine tone.
std::string SineToneWav(int frequencyHz, int durationMs, int sampleRate = 22050);

}  // namespace sentrel
