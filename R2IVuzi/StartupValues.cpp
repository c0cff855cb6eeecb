#include "R2IVuzi/StartupValues.h"

#include "R2IVuzi/OrbelRvdErrorMessage.h"
#include "codec/core/rvd_message.h"
#include "platform/ModuleStartup.h"

#include <boost/scoped_ptr.hpp>

#include <stdexcept>

std::atomic<int> g_retryCount{kDefaultRetryCount};
std::atomic<int> g_packetSize{kDefaultPacketSize};
std::atomic<int> g_jpipEmptyExchangeLimit{kDefaultJpipEmptyExchangeLimit};
std::atomic<int> g_jpipConnectTimeoutSeconds{kDefaultJpipConnectTimeoutSeconds};
std::atomic<int> g_jpipLowSpeedSeconds{kDefaultJpipLowSpeedSeconds};
int g_hangingMode = 2;
int g_workingSetMode = 0;
int g_selectMode = 0;
bool g_linkFlag = false;
bool g_showOverlay = true;
bool g_showAnnotation = true;
bool g_showRuler = true;
float g_overlayTextSize = 2.0f;

namespace {

// Kept equal to the project VERSION (CMakeLists.txt) and the version resource.
const char16_t kModuleVersion[] = u"1,0,0,1";

boost::scoped_ptr<Orbel_Rvd_Error_Message> g_errorSink;
boost::scoped_ptr<rvd_message_formatter> g_errorFormatter;
boost::scoped_ptr<std::u16string> g_versionText;
boost::scoped_ptr<LayoutMap> g_layoutMap;
boost::scoped_ptr<LayoutMap> g_maxLayoutMap;
boost::scoped_ptr<std::string> g_overlayFontName;
boost::scoped_ptr<std::string> g_annotationLanguage;

template <class T> T& loaded(const boost::scoped_ptr<T>& object, const char* name)
{
    if (!object)
        throw std::logic_error(std::string(name) + " used while the module is not loaded");
    return *object;
}

const StartupRegistrar kErrorSink(
    1, 0, "codec-error sink", [] { g_errorSink.reset(new Orbel_Rvd_Error_Message(true)); },
    [] { g_errorSink.reset(); });

const StartupRegistrar kErrorFormatter(
    2, 0, "codec-error formatter",
    [] { g_errorFormatter.reset(new rvd_message_formatter(g_errorSink.get(), 79, 40)); },
    [] {
        // A control installed it; the codec must not keep a pointer to a destroyed sink.
        rvd_message* installed = rvd_customize_errors(nullptr);
        if (installed != g_errorFormatter.get())
            rvd_customize_errors(installed);
        g_errorFormatter.reset();
    });

const StartupRegistrar kVersionText(
    3, 0, "version text", [] { g_versionText.reset(new std::u16string(kModuleVersion)); },
    [] { g_versionText.reset(); });

const StartupRegistrar kLayoutMap(
    4, 0, "layout map", [] { g_layoutMap.reset(new LayoutMap); }, [] { g_layoutMap.reset(); });

const StartupRegistrar kMaxLayoutMap(
    5, 0, "maximum-layout map", [] { g_maxLayoutMap.reset(new LayoutMap); },
    [] { g_maxLayoutMap.reset(); });

const StartupRegistrar kOverlayFontName(
    6, 0, "default overlay font name", [] { g_overlayFontName.reset(new std::string("Arial")); },
    [] { g_overlayFontName.reset(); });

const StartupRegistrar kAnnotationLanguage(
    7, 0, "annotation language", [] { g_annotationLanguage.reset(new std::string("EN")); },
    [] { g_annotationLanguage.reset(); });

// A reload must find the first values, as a freshly loaded module would.
const StartupRegistrar kPlainSettings(
    7, 1, "plain settings",
    [] {
        g_retryCount = kDefaultRetryCount;
        g_packetSize = kDefaultPacketSize;
        g_jpipEmptyExchangeLimit = kDefaultJpipEmptyExchangeLimit;
        g_jpipConnectTimeoutSeconds = kDefaultJpipConnectTimeoutSeconds;
        g_jpipLowSpeedSeconds = kDefaultJpipLowSpeedSeconds;
        g_hangingMode = 2;
        g_workingSetMode = 0;
        g_selectMode = 0;
        g_linkFlag = false;
        g_showOverlay = g_showAnnotation = g_showRuler = true;
        g_overlayTextSize = 2.0f;
    },
    nullptr);

// The registry starts empty and the terminator needs no construction.
const StartupRegistrar kTextRegistry(9, 0, "codec text registry and terminator", nullptr,
                                     [] { rvd_release_text_registry(); });

} // namespace

Orbel_Rvd_Error_Message& GetCodecErrorSink() { return loaded(g_errorSink, "codec-error sink"); }

rvd_message_formatter& GetCodecErrorFormatter()
{
    return loaded(g_errorFormatter, "codec-error formatter");
}

const std::u16string& GetModuleVersionText() { return loaded(g_versionText, "version text"); }

LayoutMap& GetLayoutMap() { return loaded(g_layoutMap, "layout map"); }

LayoutMap& GetMaxLayoutMap() { return loaded(g_maxLayoutMap, "maximum-layout map"); }

std::string& GetDefaultOverlayFontName()
{
    return loaded(g_overlayFontName, "default overlay font name");
}

std::string& GetAnnotationLanguage() { return loaded(g_annotationLanguage, "annotation language"); }
