// The voice prompt files of the factory directory: headerless G.711 A-law,
// 8000 samples per second, made by the virtual board itself. The success
// prompt is a rising two-tone chime, the failure prompt a low falling buzz,
// one second each.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zq::sim {

// Where a new board keeps them: the directory of the provisioning file.
constexpr const char *kPromptDir = "/mnt/factory";
constexpr const char *kSuccessPromptFile = "shaoxiechenggong.pcm";
constexpr const char *kFailurePromptFile = "shaoxieshibai.pcm";
constexpr int kPromptSamples = 8000;

enum class Prompt { Success, Failure };

// The file's bytes (one A-law code per sample).
std::vector<uint8_t> prompt_bytes(Prompt which);

// (Re)writes both prompt files into the board directory boardDirPath of the
// board at dir (made when missing).
bool write_prompt_files(const std::string &dir, const std::string &boardDirPath = kPromptDir);

// The 16-bit samples a speaker plays for A-law bytes, for comparison with
// what reached it.
std::vector<int16_t> speaker_samples(const std::vector<uint8_t> &alaw);

}  // namespace zq::sim
