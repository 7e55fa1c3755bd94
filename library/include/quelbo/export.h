// The mark of what the library exports.
#pragma once
#define QUELBO_API __attribute__((visibility("default")))
