// Marks the classes that sibling modules link against by name. Default
// visibility is also the build's default today; the mark keeps them exported
// if the module is ever built with -fvisibility=hidden.
#pragma once

#define VT_EXPORT __attribute__((visibility("default")))
