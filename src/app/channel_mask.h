#pragma once

// One-byte XOR mask of the EMBEDDED channel resource. The channel build tool
// (tools/embed_channel) and the installer both use this constant.
constexpr unsigned char kEmbeddedChannelMask = 0xA7;
