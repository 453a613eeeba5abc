#pragma once
// Yardsticks the kernel is measured against.
#include <penshell/physics.h>

// Plain scalar versions of the kernel (reference.cpp, built without vector code).
float update_reference(float dt, float prev_dt, TCVerlet* particles, unsigned count);
float clen_reference(float x1, float y1, float x2, float y2);
float spring_reference(TCVerlet& a, TCVerlet& b, float rest_length);

// Reads and writes back every byte of the records once, with the widest vector
// loads and stores the processor has (SSE2, AVX2 or AVX-512): the memory
// traffic of a step and no arithmetic.
void stream_pass(TCVerlet* particles, unsigned count);
