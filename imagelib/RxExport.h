// Marks the raster library's classes that belong to the module's exported interface, so
// they stay visible when the module is built with hidden visibility.
#pragma once

#define RX_EXPORT __attribute__((visibility("default")))
