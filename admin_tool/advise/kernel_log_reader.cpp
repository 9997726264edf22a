#include "kernel_log_reader.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "journal_record.h"
#include "line_framing.h"
#include "log_text.h"
#include "message_kind.h"

namespace scsi_timeouts_tool {

void KernelLogReader::startFile(int file) {
    pairing_.startFile(file);
    file_ = file;
    line_ = 0;
}

void KernelLogReader::finish() {
    pairing_.finish();
}

void KernelLogReader::message(std::string_view text, const MessagePlace& place) {
    pairing_.add(classifyMessage(text), place);
}

void KernelLogReader::line(std::string_view text) {
    ++line_;
    ++findings_.lines;
    if (text.size() > max_line) {
        std::vector<LongLines>& long_lines = findings_.long_lines;
        if (long_lines.empty() || long_lines.back().file != file_) {
            long_lines.push_back({file_, line_, 0});
        }
        ++long_lines.back().count;
        return;
    }
    if (!text.empty() && text.back() == '\r') {
        text.remove_suffix(1);
    }
    if (line_ == 1 && startsWith(text, "\xEF\xBB\xBF")) {
        text.remove_prefix(3);  // a byte-order mark, as some editors save a file
    }
    const std::size_t first = text.find_first_not_of(" \t");
    if (first != std::string_view::npos && text[first] == '{') {
        if (journalMessage(text, record_message_, record_stamp_)) {
            message(record_message_, {line_, record_stamp_});
        }
        return;
    }
    const FramedLine framed = frameLine(text);
    if (framed.origin == Origin::Kernel) {
        message(framed.message, {line_, framed.stamp});
    } else if (framed.origin == Origin::SyslogRepeatNotice) {
        findings_.rate_limited = true;
    }
}

long readSome(int fd, char* data, std::size_t size, std::string& error) {
    ssize_t n = 0;
    do {
        n = ::read(fd, data, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        error = std::strerror(errno);
    }
    return static_cast<long>(n);
}

bool readKernelLog(int fd, KernelLogReader& reader, std::string& error) {
    // Room for the longest line read, and more: a longer line is passed on as its first part,
    // which is too long already.
    constexpr std::size_t buffer_size = std::size_t{256} << 10;
    static_assert(buffer_size > max_line, "a line the reader reads fits in its buffer");
    std::vector<char> buffer(buffer_size);
    std::size_t have = 0;
    bool skipping = false;  // the rest of a line longer than the buffer
    for (;;) {
        const long n = readSome(fd, buffer.data() + have, buffer_size - have, error);
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        have += static_cast<std::size_t>(n);
        std::size_t start = 0;
        while (const void* nl = std::memchr(buffer.data() + start, '\n', have - start)) {
            const std::size_t end =
                static_cast<std::size_t>(static_cast<const char*>(nl) - buffer.data());
            if (!skipping) {
                reader.line(std::string_view(buffer.data() + start, end - start));
            }
            skipping = false;
            start = end + 1;
        }
        if (start == 0 && have == buffer_size) {
            if (!skipping) {
                reader.line(std::string_view(buffer.data(), have));  // its first part
            }
            skipping = true;
            have = 0;
            continue;
        }
        std::memmove(buffer.data(), buffer.data() + start, have - start);
        have -= start;
    }
    if (have > 0 && !skipping) {
        reader.line(std::string_view(buffer.data(), have));
    }
    return true;
}

}  // namespace scsi_timeouts_tool
