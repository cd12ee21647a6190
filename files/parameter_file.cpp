#include "files/parameter_file.h"

#include <memory>

#include "files/scramble.h"
#include "platform/atomic_file.h"
#include "platform/messages.h"

namespace kelo {

uint8_t ParameterCheckByte(const uint8_t* data, int count) {
    return static_cast<uint8_t>(SumBytes(data, count) + 1);
}

namespace {

bool EndsInItsCheckByte(const std::vector<uint8_t>& block) {
    const int count = static_cast<int>(block.size()) - 1;
    return block[count] == ParameterCheckByte(block.data(), count);
}

}  // namespace

bool EncodeParameterBlock(const uint8_t* data, int count, std::vector<uint8_t>& file) {
    file.clear();
    if (count < 1 || count > kParameterFileCapacity - 1)
        return false;
    std::vector<uint8_t> plain(data, data + count);
    plain.push_back(ParameterCheckByte(data, count));
    // The scrambling writes only as far as it goes; the rest of the block is never touched.
    const int room = ScrambleRoom(plain.size(), kParameterFileCapacity);
    const auto block = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(room));
    const int length = ScrambleFileData(plain.data(), static_cast<int>(plain.size()), block.get(),
                                        room, ModeEncodeUntagged);
    if (length <= 0)
        return false;
    file.assign(block.get(), block.get() + length);
    return true;
}

bool DecodeParameterBlock(std::vector<uint8_t> file, std::vector<uint8_t>& plainBlock) {
    plainBlock.clear();
    if (file.size() > static_cast<size_t>(kParameterFileCapacity))
        return false;
    const bool loaded =
        UnscrambleFileBlock(file.data(), static_cast<int>(file.size()), kParameterFileCapacity,
                            ModeDecodeUntagged, plainBlock) &&
        !plainBlock.empty() && EndsInItsCheckByte(plainBlock);
    if (!loaded)
        plainBlock.clear();
    return loaded;
}

bool SaveParameterFile(const uint8_t* data, int count, const PathChooser& choosePath) {
    std::vector<uint8_t> file;
    if (!EncodeParameterBlock(data, count, file))
        return false;
    std::string path;
    if (!choosePath(path))
        return false;
    return platform::WriteFileAtomically(path, file.data(), file.size()).OkElseShow(path);
}

bool LoadParameterFile(const PathChooser& choosePath, std::vector<uint8_t>& plainBlock,
                       std::vector<uint8_t>* fileBytes) {
    plainBlock.clear();
    std::string path;
    if (!choosePath(path))
        return false;

    std::vector<uint8_t> file;
    bool tooLarge = false;
    if (!platform::ReadFileBytes(path, kParameterFileCapacity, file, &tooLarge).OkElseShow(path))
        return false;
    if (fileBytes != nullptr)
        *fileBytes = file;
    // The program never writes a parameter file longer than 131,072 bytes; its first part
    // alone unscrambles to garbage that could pass the check byte by chance, and the set goes
    // into a machine, so such a file is refused whole.
    if (tooLarge || !DecodeParameterBlock(std::move(file), plainBlock)) {
        platform::ShowMessage(platform::MessageId::kIllegalParamFile);
        return false;
    }
    return true;
}

}  // namespace kelo
