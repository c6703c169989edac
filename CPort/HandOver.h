#pragma once

// Qt hands a posted event or a queued functor from one thread to another
// behind locks of its own. Qt is not built with ThreadSanitizer, so those
// locks are invisible to it and the object handed over looks raced. The
// sender marks the object as released just before it posts it, and the
// receiver marks it as acquired when it arrives: ThreadSanitizer then sees
// the hand-over on our own object and still sees every real race around it.
// Outside ThreadSanitizer builds both are empty.

#if defined(__SANITIZE_THREAD__)
#define ZORBEL_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZORBEL_THREAD_SANITIZER 1
#endif
#endif

#ifdef ZORBEL_THREAD_SANITIZER
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

// On the sending thread, after the last write to the object and before Qt
// is asked to deliver it.
inline void ReleaseHandOver([[maybe_unused]] const void* object)
{
#ifdef ZORBEL_THREAD_SANITIZER
    __tsan_release(const_cast<void*>(object));
#endif
}

// On the receiving thread, before the first read of the object.
inline void AcquireHandOver([[maybe_unused]] const void* object)
{
#ifdef ZORBEL_THREAD_SANITIZER
    __tsan_acquire(const_cast<void*>(object));
#endif
}
