#pragma once
#define QUELBO_API __attribute__((visibility("default")))
