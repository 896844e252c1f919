// Marks a function as a host entry point: a plain C name, visible outside the library.
// Everything else is hidden (-fvisibility=hidden).
#pragma once

#define KIV_EXPORT extern "C" __attribute__((visibility("default")))
