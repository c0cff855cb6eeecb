// Process-wide objects built when the module loads, in a fixed order, and destroyed in
// reverse when it unloads (StartupRegistrar steps, slots 1 to 7 and 9). Accessing one of
// the constructed objects while the module is not loaded is a std::logic_error.
//
// All of them are read and written on the user-interface thread; loader threads take a
// copy of what they need when a request is built.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

class Orbel_Rvd_Error_Message;
class rvd_message_formatter;

// Layout tables: key 0 the frame's (rows, columns), key 1 the sub-frames'.
typedef std::map<int, std::pair<int32_t, int32_t>> LayoutMap;

// Slot 1: the codec-error sink, throw flag set.
Orbel_Rvd_Error_Message& GetCodecErrorSink();
// Slot 2: the formatter over the sink (79 characters a line, indentation up to 40). The
// control's constructor installs it with rvd_customize_errors.
rvd_message_formatter& GetCodecErrorFormatter();
// Slot 3: the module's version as four comma-separated numbers.
const std::u16string& GetModuleVersionText();
// Slot 4: the layout map, empty at load.
LayoutMap& GetLayoutMap();
// Slot 5: the maximum-layout map, empty at load.
LayoutMap& GetMaxLayoutMap();
// Slot 6: the default overlay font name, "Arial".
std::string& GetDefaultOverlayFontName();
// Slot 7: the annotation language, "EN".
std::string& GetAnnotationLanguage();

// Plain settings, valid before load; the configuration may replace them. A load puts
// them back to these first values.
const int kDefaultRetryCount = 5;
const int kDefaultPacketSize = 10240; // bytes of a JPIP region request
extern std::atomic<int> g_retryCount;
extern std::atomic<int> g_packetSize;

// JPIP transfer limits; tests lower them. A region request gives up after this many
// exchanges in a row that bring no new byte; every libcurl handle gives up connecting
// after the connect timeout and a transfer slower than 1 byte/s for the low-speed time.
const int kDefaultJpipEmptyExchangeLimit = 3;
const int kDefaultJpipConnectTimeoutSeconds = 10;
const int kDefaultJpipLowSpeedSeconds = 30;
extern std::atomic<int> g_jpipEmptyExchangeLimit;
extern std::atomic<int> g_jpipConnectTimeoutSeconds;
extern std::atomic<int> g_jpipLowSpeedSeconds;

// Viewer settings, one set per process, written by the control and the frame and read
// by frames, sub-frames and grids on the user-interface thread.
extern int g_hangingMode;     // 2 at start
extern int g_workingSetMode;  // 0
extern int g_selectMode;      // 0
extern bool g_linkFlag;       // false
extern bool g_showOverlay;    // true
extern bool g_showAnnotation; // true
extern bool g_showRuler;      // true
extern float g_overlayTextSize; // 2.0 until the PSSI document gives another
