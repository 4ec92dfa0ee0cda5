#include "ui/BackgroundText.h"

#include <exception>

namespace ui {

bool BackgroundText::Start(HWND window, UINT message, Gather gather) {
    if (Running())
        return false;
    auto job = std::make_shared<Job>();
    job->window = window;
    job->message = message;
    // Never 0, so that a message with a zero wParam is nobody's.
    job->number = ++lastNumber_ == 0 ? ++lastNumber_ : lastNumber_;
    job->gather = std::move(gather);
    // The thread holds the job too: it may outlive this object (the window closed meanwhile).
    auto forThread = std::make_unique<std::shared_ptr<Job>>(job);
    Handle thread(::CreateThread(nullptr, 0, Main, forThread.get(), 0, nullptr));
    if (!thread)
        return false;
    forThread.release(); // the thread's now
    job_ = std::move(job);
    thread_ = std::move(thread);
    return true;
}

bool BackgroundText::Running() const {
    return thread_ && ::WaitForSingleObject(thread_.get(), 0) == WAIT_TIMEOUT;
}

bool BackgroundText::Wait(DWORD ms) const {
    return !thread_ || ::WaitForSingleObject(thread_.get(), ms) != WAIT_TIMEOUT;
}

std::optional<std::string> BackgroundText::Take(WPARAM number) {
    if (!job_ || number != job_->number || !job_->ready.load(std::memory_order_acquire))
        return std::nullopt;
    std::string text = std::move(job_->text);
    job_.reset();
    return text;
}

DWORD WINAPI BackgroundText::Main(void* parameter) {
    const std::unique_ptr<std::shared_ptr<Job>> held(static_cast<std::shared_ptr<Job>*>(parameter));
    Job& job = **held;
    try {
        job.text = job.gather();
    } catch (const std::exception&) {
        return 1; // out of memory: no text
    }
    job.ready.store(true, std::memory_order_release);
    ::PostMessageA(job.window, job.message, job.number, 0);
    return 0;
}

} // namespace ui
