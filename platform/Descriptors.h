#pragma once

#include <cstddef>

// Writes all of data to a file descriptor, retrying after signals and partial writes.
// Returns 0, or the errno of the failure.
int WriteAll(int fd, const char *data, std::size_t size);
