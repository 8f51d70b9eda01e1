// What `vantrel hid` says about one report descriptor. No device access: the fuzz target
// runs the same code on any bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <vector>

#include "hidpipe/hidpipe_diag.h"

// The descriptor in a file's contents: the binary descriptor as sysfs gives it, or its
// bytes as hexadecimal text (pairs of digits, 0x prefixes, commas, blanks, line breaks; a
// recorder's "R: <length> <bytes>" line). False with error when it holds no descriptor.
bool DecodeDescriptor(std::span<const uint8_t> contents, std::vector<uint8_t>& bytes,
                      std::string& error);

// The library's analysis of a descriptor, released with it.
using DescriptorAnalysis =
    std::unique_ptr<const HidDescriptorAnalysis, decltype(&hidFreeDescriptorAnalysis)>;

DescriptorAnalysis AnalyseDescriptor(std::span<const uint8_t> bytes);

// Collections, reports, skipped items and the pipe chosen or why refused; lines end in \n.
std::string DescriptorText(const HidDescriptorAnalysis& a);

// usable, reason, framing, numbered, input_id, input_size, output_id, output_size (ids and
// sizes null when refused; sizes are the bytes after the id), collections, reports,
// skipped, descriptor_size.
nlohmann::json DescriptorJson(const HidDescriptorAnalysis& a);

// "numbered-pipe, input id 0x06 64 bytes, output id 0x05 64 bytes" and the like.
std::string LayoutSummary(const HidPipeDesc& pipe);
