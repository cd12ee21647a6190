// Keeps what the machine received as files when it runs with --record DIR: each parameter
// set as params-N.bin and each firmware image as firmware-N.bin, N counting from 1.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kelo::sim {

class Recorder {
  public:
    // An empty directory records nothing (only the counting goes on).
    explicit Recorder(std::string directory) : directory_(std::move(directory)) {}

    // Creates the directory when it is missing; false with the reason when it cannot.
    bool Prepare(std::string& error) const;

    // Writes the next params-N.bin; returns its path, or "" when not recording or on failure.
    std::string SaveParameters(const std::vector<uint8_t>& content);

    // A firmware image arriving in pieces, written as it comes.
    class Image {
      public:
        Image() = default;
        Image(const Image&) = delete;
        Image& operator=(const Image&) = delete;
        ~Image();
        void Append(const uint8_t* bytes, size_t size);
        size_t Size() const { return size_; }
        bool Open() const { return open_; }
        const std::string& Path() const { return path_; }
        // Closes the file; returns its path ("" when not recorded).
        std::string Finish();

      private:
        friend class Recorder;
        std::FILE* file_ = nullptr;
        std::string path_;
        size_t size_ = 0;
        bool open_ = false;
    };

    // Starts the next firmware-N.bin.
    void StartImage(Image& image);

  private:
    std::string NextPath(const char* stem, int& counter);

    std::string directory_;
    int parameterSets_ = 0;
    int images_ = 0;
};

}  // namespace kelo::sim
