/* hidpipe diagnostics: the HID devices present and what the protocol can use of a
 * report descriptor, as hidOpenMyDevice sees them. Opens no device; independent of
 * hidOpen and of the backend in use (the simulator has no hidraw nodes to list).
 */
#ifndef HIDPIPE_DIAG_H
#define HIDPIPE_DIAG_H

#include <stddef.h>
#include <stdint.h>

#include "hidpipe.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Fills out (room for max entries) with the hidraw devices present, one entry per node,
 * ordered by bus and node, and returns how many are present (more than max: call again
 * with more room). out may be NULL when max is 0. */
int hidListDevices(HidDeviceDesc* out, int max);

/* 1 when hidOpenMyDevice(vid, pid, iface) would take the device: vendor and product
 * match, and on USB the interface number too. Vendor 0 or product 0 matches nothing. */
int hidDeviceMatches(const HidDeviceDesc* device, uint32_t vid, uint32_t pid, uint32_t iface);

/* 1 when choice names the device as hidChooseDevice takes it: its node ("/dev/hidraw3"
 * or "hidraw3"), its USB port path or its serial number. NULL or "" names every device. */
int hidDeviceChosen(const HidDeviceDesc* device, const char* choice);

/* "USB", "Bluetooth", "I2C", "SPI" or "unknown" for a HidDeviceDesc's bus. */
const char* hidBusName(int bus);

/* Reads the report descriptor of a listed device (path "/dev/hidraw3") from sysfs, where
 * it is readable without access to the node, into buf (size bytes). Returns its length;
 * -1 when it cannot be read or is larger than size, and hidLastError says why. */
int hidDeviceDescriptor(const char* path, uint8_t* buf, int size);

/* A top-level collection of a descriptor. */
typedef struct HidCollectionDesc {
  uint16_t usagePage;
  uint16_t usage;
  int vendor; /* 1: vendor-defined (usage page 0xFF00 to 0xFFFF) */
} HidCollectionDesc;

/* A report id of a descriptor with the bytes each direction carries, its id not counted. */
typedef struct HidReportDesc {
  uint8_t id; /* 0 when the interface does not number its reports */
  size_t inputBytes;
  size_t outputBytes;
  size_t featureBytes;
  /* The top-level collection (index into collections) its input, else its output, was
   * first declared in; -1 for none. */
  int collection;
} HidReportDesc;

/* The reports the protocol would travel in. */
typedef struct HidPipeDesc {
  const char* framing; /* "unnumbered", "numbered-pipe" or "id-is-frame-type" */
  int numbered;
  uint8_t inputId; /* 0 when unnumbered */
  size_t inputBytes;
  uint8_t outputId;
  size_t outputBytes;
} HidPipeDesc;

/* What a report descriptor declares and what the protocol can use of it. Every pointer
 * stays valid until hidFreeDescriptorAnalysis. */
typedef struct HidDescriptorAnalysis {
  size_t size;    /* bytes of the descriptor */
  int parsed;     /* 1 when the descriptor was understood */
  int usable;     /* 1 when the protocol can use it; pipe is then filled */
  const char* reason; /* why not usable, "" when usable */
  int numbered;   /* the interface numbers its reports (when parsed) */
  size_t collectionCount;
  const HidCollectionDesc* collections;
  size_t reportCount;
  const HidReportDesc* reports; /* in order of first appearance */
  size_t skippedCount;
  const char* const* skipped; /* items passed over as the kernel does (the first 16) */
  HidPipeDesc pipe;
} HidDescriptorAnalysis;

/* Parses a report descriptor (never reading past size bytes) and chooses the pipe as
 * hidOpenMyDevice does. NULL only when memory runs out. */
const HidDescriptorAnalysis* hidAnalyseDescriptor(const uint8_t* bytes, size_t size);

/* Releases an analysis; NULL is fine. */
void hidFreeDescriptorAnalysis(const HidDescriptorAnalysis* analysis);

#ifdef __cplusplus
}
#endif

#endif /* HIDPIPE_DIAG_H */
