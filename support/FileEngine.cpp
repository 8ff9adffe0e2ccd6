#include "support/FileEngine.h"

#include <utility>

namespace AppCore {

FileEngine::FileEngine(FileEngine&& other) noexcept
    : data(std::exchange(other.data, nullptr)),
      useMemoryMap(other.useMemoryMap),
      basicFile(std::move(other.basicFile)),
      mmFile(std::move(other.mmFile)) {}

FileEngine& FileEngine::operator=(FileEngine&& other) noexcept {
    if (this != &other) {
        useMemoryMap = other.useMemoryMap;
        basicFile = std::move(other.basicFile);
        mmFile = std::move(other.mmFile);
        data = std::exchange(other.data, nullptr);
    }
    return *this;
}

template <typename Call>
auto FileEngine::Forward(Call call) {
    if (useMemoryMap) {
        auto result = call(mmFile);
        data = mmFile.view;
        return result;
    }
    auto result = call(basicFile);
    data = basicFile.view;
    return result;
}

bool FileEngine::OpenFile(const char* path, std::string access) {
    return Forward([&](auto& file) { return file.OpenFile(path, access); });
}

bool FileEngine::OpenFile(const std::string& path, std::string access) {
    return Forward([&](auto& file) { return file.OpenFile(path, access); });
}

bool FileEngine::NewFile(const char* path, unsigned long size, bool exclusive) {
    return Forward([&](auto& file) { return file.NewFile(path, size, exclusive); });
}

bool FileEngine::NewFile(const std::string& path, unsigned long size, bool exclusive) {
    return Forward([&](auto& file) { return file.NewFile(path, size, exclusive); });
}

bool FileEngine::SetView() {
    return Forward([&](auto& file) { return file.SetView(); });
}

bool FileEngine::SetView(unsigned long start, unsigned long length) {
    return Forward([&](auto& file) { return file.SetView(start, length); });
}

bool FileEngine::ResizeFile(unsigned long size) {
    return Forward([&](auto& file) { return file.ResizeFile(size); });
}

bool FileEngine::WriteToDisk(const unsigned char* bytes, unsigned long offset, unsigned long length) {
    return Forward([&](auto& file) { return file.WriteToDisk(bytes, offset, length); });
}

bool FileEngine::FlushView() {
    return Forward([&](auto& file) { return file.FlushView(); });
}

bool FileEngine::ChangeAccess(std::string access) {
    return Forward([&](auto& file) { return file.ChangeAccess(access); });
}

void FileEngine::ClearView() {
    Forward([&](auto& file) {
        file.ClearView();
        return true;
    });
}

void FileEngine::ClearAll() {
    Forward([&](auto& file) {
        file.ClearAll();
        return true;
    });
}

}  // namespace AppCore
