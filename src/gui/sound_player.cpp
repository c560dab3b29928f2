#include "gui/sound_player.h"

#include <cmath>
#include <cstdint>
#include <numbers>

#include <QDir>
#include <QFileInfo>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTemporaryFile>
#include <QUrl>

namespace sentrel {

namespace {

void PutLittleEndian(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

std::string SineToneWav(int frequencyHz, int durationMs, int sampleRate) {
  const auto samples = static_cast<uint32_t>(static_cast<int64_t>(sampleRate) * durationMs / 1000);
  const uint32_t dataBytes = samples * 2;
  std::string wav = "RIFF";
  PutLittleEndian(wav, 36 + dataBytes, 4);
  wav += "WAVEfmt ";
  PutLittleEndian(wav, 16, 4);
  PutLittleEndian(wav, 1, 2);  // PCM
  PutLittleEndian(wav, 1, 2);  // mono
  PutLittleEndian(wav, static_cast<uint32_t>(sampleRate), 4);
  PutLittleEndian(wav, static_cast<uint32_t>(sampleRate) * 2, 4);
  PutLittleEndian(wav, 2, 2);
  PutLittleEndian(wav, 16, 2);
  wav += "data";
  PutLittleEndian(wav, dataBytes, 4);
  // Short fades at both ends keep the tone from clicking.
  const uint32_t fade = std::min<uint32_t>(samples / 10, static_cast<uint32_t>(sampleRate / 200));
  for (uint32_t i = 0; i < samples; ++i) {
    double gain = 0.5;
    if (fade > 0 && i < fade) gain *= static_cast<double>(i) / fade;
    if (fade > 0 && samples - i <= fade) gain *= static_cast<double>(samples - i - 1) / fade;
    const double value = gain * std::sin(2 * std::numbers::pi * frequencyHz * i / sampleRate);
    const auto sample = static_cast<int16_t>(std::lround(value * 32767));
    PutLittleEndian(wav, static_cast<uint16_t>(sample), 2);
  }
  return wav;
}

SoundPlayer::SoundPlayer(std::function<void(const std::string&)> notice, QObject* parent)
    : QObject(parent), notice_(std::move(notice)) {}

SoundPlayer::~SoundPlayer() = default;

void SoundPlayer::Complain(const std::string& why) {
  if (complained_) return;
  complained_ = true;
  if (notice_) notice_("No sound: " + why + "\r\n");
}

void SoundPlayer::Start(QSoundEffect& effect, const QString& file, int loops) {
  if (QMediaDevices::audioOutputs().isEmpty()) {
    Complain("this system has no audio output device.");
    return;
  }
  effect.stop();
  effect.setSource(QUrl::fromLocalFile(file));
  effect.setLoopCount(loops);
  effect.play();
}

void SoundPlayer::Play(const std::string& wavFile, bool loop) {
  if (wavFile.empty()) {
    StopAll();
    return;
  }
  const QString file = QString::fromStdString(wavFile);
  if (!QFileInfo(file).isFile()) {
    // No default sound stands in for a missing file.
    Complain("\"" + wavFile + "\" does not exist.");
    return;
  }
  if (!alarm_) {
    alarm_ = new QSoundEffect(this);
    connect(alarm_, &QSoundEffect::statusChanged, this, [this] {
      if (alarm_->status() == QSoundEffect::Error) {
        Complain("\"" + alarm_->source().toLocalFile().toStdString() +
                 "\" cannot be played (not a PCM WAV file, or no audio device).");
      }
    });
  }
  Start(*alarm_, file, loop ? QSoundEffect::Infinite : 1);
}

void SoundPlayer::StopAll() {
  if (alarm_) alarm_->stop();
  if (beep_) beep_->stop();
}

void SoundPlayer::Beep() {
  if (!beep_) {
    toneFile_ = std::make_unique<QTemporaryFile>();
    toneFile_->setFileTemplate(QDir::tempPath() + "/sentrel-beep-XXXXXX.wav");
    const std::string tone = SineToneWav(800, 250);
    if (!toneFile_->open() ||
        toneFile_->write(tone.data(), static_cast<qint64>(tone.size())) !=
            static_cast<qint64>(tone.size())) {
      Complain("the beep tone could not be written to the temporary folder.");
      return;
    }
    toneFile_->flush();
    beep_ = new QSoundEffect(this);
  }
  Start(*beep_, toneFile_->fileName(), 1);
}

}  // namespace sentrel
