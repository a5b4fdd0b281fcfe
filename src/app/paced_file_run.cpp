#include "app/paced_file_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/text.h"

namespace korvimo::app {

namespace {

// The buffer is written out once it holds this much.
constexpr std::size_t kFlushThreshold = 64 * 1024;

}  // namespace

PacedFileRun::PacedFileRun(EventLoop& loop, Busy& busy, StatusList& status, Hooks hooks)
    : loop_(loop), busy_(busy), status_(status), hooks_(std::move(hooks)) {}

bool PacedFileRun::open(const std::string& path) {
    path_ = path;
    output_.reset(::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!output_) {
        status_.append(formatText(kCannotOpenForWritingFormat, path_.c_str()));
        return false;
    }
    return true;
}

bool PacedFileRun::begin() {
    timer_ = loop_.startTimer(kCreateTickMs, [this] { tick(); });
    if (!timer_.running()) {
        closeOutput();
        releaseBusy(busy_);
        return false;
    }
    running_ = true;
    stopping_ = false;
    return true;
}

void PacedFileRun::endStopped() {
    if (running_) {
        finish(End::Stopped);
    }
}

void PacedFileRun::runToEnd() {
    while (running_) {
        if (stopping_) {
            finish(End::Stopped);
            return;
        }
        step();
    }
}

void PacedFileRun::stop() {
    if (running_ && !stopping_) {
        stopping_ = true;
        releaseBusy(busy_);
    }
}

void PacedFileRun::close() {
    if (running_ && !stopping_) {
        releaseBusy(busy_);
    }
    timer_.stop();
    running_ = false;
    stopping_ = false;
    if (output_) {
        flush();
    }
    closeOutput();
}

void PacedFileRun::tick() {
    if (!running_) {
        timer_.stop();
        return;
    }
    if (stopping_) {
        finish(End::Stopped);
        return;
    }
    if (options_.stepsPerTick > 0) {
        for (std::size_t n = 0; n < options_.stepsPerTick && running_; ++n) {
            step();
        }
        return;
    }
    const Clock& clock = loop_.clock();
    const uint64_t begin = clock.monotonicMs();
    while (running_ && clock.monotonicMs() - begin < kCreateTickBudgetMs) {
        step();
    }
}

bool PacedFileRun::step() {
    if (!hooks_.step(buffer_)) {
        finish(End::Completed);
        return false;
    }
    if (buffer_.size() >= kFlushThreshold && !flush()) {
        finish(End::Failed);
        return false;
    }
    return true;
}

void PacedFileRun::finish(End end) {
    timer_.stop();
    if (output_ && !flush()) {
        end = End::Failed;
    }
    closeOutput();
    if (running_ && !stopping_) {
        releaseBusy(busy_);
    }
    running_ = false;
    stopping_ = false;
    hooks_.ended(end);
}

bool PacedFileRun::flush() {
    std::size_t written = 0;
    while (written < buffer_.size()) {
        const ssize_t n =
            ::write(output_.get(), buffer_.data() + written, buffer_.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            buffer_.clear();
            status_.append(formatText(kCannotWriteFormat, path_.c_str(), std::strerror(error)));
            closeOutput();
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    buffer_.clear();
    return true;
}

void PacedFileRun::closeOutput() {
    output_.reset();
    buffer_.clear();
    buffer_.shrink_to_fit();
}

}  // namespace korvimo::app
