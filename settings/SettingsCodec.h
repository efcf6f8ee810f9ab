// The settings file's bytes: a 4-byte magic in memory order, then the data
// block (the three tone values). No platform calls; the file dialogs and the
// file itself are SettingsFile's.
#pragma once

#include <cstddef>
#include <cstdint>

// The magic of Umbrolux's settings files: "UMLX" in file order.
constexpr uint32_t kSettingsMagic = 0x584C4D55u;

// The bytes a save writes, the magic then the block, into `out`. Returns
// their count, or 0 (nothing written) when `capacity` cannot hold them.
size_t EncodeSettings(uint32_t magic, const void *data, size_t size, uint8_t *out, size_t capacity);

// Applies a file's bytes to the block as a load does: false, with the block
// untouched, unless the file begins with the 4 bytes of the magic; then the
// bytes that follow (at most size of them) replace the block's leading bytes,
// the rest of the block keeping its values.
bool DecodeSettings(const uint8_t *bytes, size_t length, uint32_t magic, void *data, size_t size);
