#include "sim/recorder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace kelo::sim {

bool Recorder::Prepare(std::string& error) const {
    if (directory_.empty())
        return true;
    struct stat info {};
    if (::stat(directory_.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return true;
        error = directory_ + " is not a directory";
        return false;
    }
    if (::mkdir(directory_.c_str(), 0777) != 0) {
        error = "cannot create " + directory_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string Recorder::NextPath(const char* stem, int& counter) {
    ++counter;
    if (directory_.empty())
        return "";
    return directory_ + "/" + stem + "-" + std::to_string(counter) + ".bin";
}

std::string Recorder::SaveParameters(const std::vector<uint8_t>& content) {
    const std::string path = NextPath("params", parameterSets_);
    if (path.empty())
        return "";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return "";
    const bool written =
        content.empty() || std::fwrite(content.data(), 1, content.size(), file) == content.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed ? path : "";
}

void Recorder::StartImage(Image& image) {
    image.Finish();
    image.path_ = NextPath("firmware", images_);
    image.size_ = 0;
    image.open_ = true;
    if (!image.path_.empty())
        image.file_ = std::fopen(image.path_.c_str(), "wb");
    if (!image.path_.empty() && image.file_ == nullptr)
        image.path_.clear();
}

void Recorder::Image::Append(const uint8_t* bytes, size_t size) {
    size_ += size;
    if (file_ != nullptr && size > 0)
        std::fwrite(bytes, 1, size, file_);
}

std::string Recorder::Image::Finish() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    open_ = false;
    return path_;
}

Recorder::Image::~Image() {
    Finish();
}

}  // namespace kelo::sim
