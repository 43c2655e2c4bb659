#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace pictrel::test {

// While alive, file permissions bind the calling thread and every thread it starts
// meanwhile, even when the tests run as root (as CI does): the two capabilities
// that bypass them, CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH, leave the thread's
// effective set and come back at the end (they stay permitted). Capabilities belong
// to a thread and a new thread inherits its creator's, so the rest of the process
// keeps its rights. For an ordinary user this changes nothing.
class TFilePermissionsApply {
public:
    TFilePermissionsApply() {
        if (!Get(m_saved)) return;
        Data reduced{};
        for (int i = 0; i < 2; ++i) reduced[i] = m_saved[i];
        reduced[0].effective &= ~kBypass;
        m_dropped = Set(reduced);
        Data now{};
        m_active = m_dropped && Get(now) && (now[0].effective & kBypass) == 0;
    }
    ~TFilePermissionsApply() {
        if (m_dropped) Set(m_saved);
    }
    TFilePermissionsApply(const TFilePermissionsApply&) = delete;
    TFilePermissionsApply& operator=(const TFilePermissionsApply&) = delete;

    // False when the bypassing capabilities could not be given up: permissions may
    // then not apply.
    [[nodiscard]] bool Active() const { return m_active; }

private:
    using Data = __user_cap_data_struct[2];
    static constexpr unsigned kBypass = 1u << CAP_DAC_OVERRIDE | 1u << CAP_DAC_READ_SEARCH;

    static bool Get(Data& data) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        return ::syscall(SYS_capget, &header, data) == 0;
    }
    // The raw call changes this thread only; nothing spreads it to the others.
    static bool Set(const Data& data) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        return ::syscall(SYS_capset, &header, data) == 0;
    }

    Data m_saved{};
    bool m_dropped = false;
    bool m_active = false;
};

} // namespace pictrel::test
