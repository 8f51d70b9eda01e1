#pragma once

#include <cstdint>
#include <functional>

// Millisecond counter since system start, wrapping at 32 bits. Differences are taken in
// 32-bit unsigned arithmetic, so a wrap between two readings is harmless.
std::uint32_t KorvikTickCount();

// Replaces the counter (tests); an empty function restores the system counter.
void KorvikSetTickSource(std::function<std::uint32_t()> source);
