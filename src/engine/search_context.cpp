#include "engine/search_context.h"

namespace gleanery {

namespace {

bool RestartFile(void* target) {
    platform::File& file = *static_cast<platform::File*>(target);
    return platform::Seek(file, 0) && platform::Truncate(file);
}

bool WriteFile(void* target, const char* bytes, size_t count) {
    return platform::Write(*static_cast<platform::File*>(target), bytes, count);
}

bool RestartString(void* target) {
    static_cast<std::string*>(target)->clear();
    return true;
}

bool WriteString(void* target, const char* bytes, size_t count) {
    static_cast<std::string*>(target)->append(bytes, count);
    return true;
}

bool ReadFromFile(void* target, void* buffer, size_t count, size_t& got) {
    return platform::Read(*static_cast<platform::File*>(target), buffer, count, got);
}

void CloseFile(void* target) {
    platform::Close(*static_cast<platform::File*>(target));
}

} // namespace

InputSource FileSource(platform::File& file) {
    return {&file, &ReadFromFile, &CloseFile};
}

OutputSink FileSink(platform::File& file) {
    return {&file, &RestartFile, &WriteFile};
}

OutputSink StringSink(std::string& text) {
    return {&text, &RestartString, &WriteString};
}

bool StartOutput(const OutputSink& output, ResultState& result) {
    if (result.OutputStarted) return true;
    result.OutputStarted = true;
    return output.Restart(output.Target);
}

bool FlushOutput(const OutputSink& output, ResultState& result) {
    if (!StartOutput(output, result)) return false;
    std::string& buffer = result.OutputBuffer;
    if (buffer.empty()) return true;
    const bool written = output.Write(output.Target, buffer.data(), buffer.size());
    result.BytesWritten += buffer.size();
    buffer.clear();
    return written;
}

} // namespace gleanery
