#pragma once
// System calls that a signal may cut short (EINTR): made again, in one place.
#include <cerrno>
#include <cstddef>

// Calls `call` again while it fails with EINTR; returns its last result.
template <class Call>
auto RetryInterrupted(Call call) -> decltype(call()) {
    for (;;) {
        const auto result = call();
        if (result >= 0 || errno != EINTR) return result;
    }
}

// Repeats `step(done)`, a read or write of the bytes from offset `done` on,
// until `size` bytes are done or a step returns 0 (the end of a file).
// Returns the bytes done, or -1 with errno set when a step failed.
template <class Step>
long long TransferAll(std::size_t size, Step step) {
    std::size_t done = 0;
    while (done < size) {
        const auto n = RetryInterrupted([&] { return step(done); });
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(done);
}
