/*
 * httpCalloutScoring — the host-facing interface of the HTTP callout scoring plugin.
 *
 * A host matching engine loads libhttpCalloutScoring and calls these three C functions. The plugin
 * scores nothing itself: every score call is posted as one XML document to the scoring service that
 * the configuration names for the attribute type, and the service's reply is handed back.
 *
 * Texts that come in are 8-bit text in the process's default code page (UTF-8 on Linux) with an
 * explicit byte length; they need not be NUL-terminated. A null pointer is accepted when its length is
 * 0 or less and reads as empty text. Texts that go out are written NUL-terminated into buffers the host
 * owns.
 *
 * Failures the functions handle come back as -1 plus an XML error text. The few failures they do not
 * handle leave as C++ exceptions deriving from std::exception (the plugin's exception records); a host
 * written in C++ catches them with catch (const std::exception&). Which ones these are is said below.
 *
 * Threads: score and initPlugin may be called from many threads at once; an interface keeps a small
 * pool of connections so that concurrent calls for one attribute type do not share one. getVersion may
 * be called from any thread at any time.
 */
#ifndef HTTP_CALLOUT_SCORING_H
#define HTTP_CALLOUT_SCORING_H

#include <stdint.h>

#if defined(_WIN32)
#define HCS_EXPORT __declspec(dllexport)
#else
#define HCS_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Initialises the plugin for one attribute type.
 *
 * initDocument/initDocumentLength: an XML document naming DB_CONNECTION, CONFIG_FILE, NODE_NAME,
 * ATTR_TYPE and ATTR_TYPE_ID. errorText: a buffer of at least 1024 bytes; on -1 it receives a
 * NUL-terminated text beginning "<ERROR>" (never more than 1024 bytes with its NUL).
 *
 * Returns 0 when the type's callout interface is registered, -1 on a reported failure. A missing
 * parameter ("9107E") or an unreadable .ini file ("9113E") leaves as a C++ exception.
 */
HCS_EXPORT int32_t initPlugin(const char* initDocument, int32_t initDocumentLength, char* errorText);

/*
 * Scores one pair of attribute records through the type's scoring service.
 *
 * request, inbound, matched: the request document and the two ATTRIBUTE records, each with its byte
 * length. resultBuffer: receives the service's reply, NUL-terminated; it must hold maxResultSize + 1
 * bytes. A reply longer than maxResultSize is refused.
 *
 * Returns 0 with the reply on success, -1 with "<SCORE_RESULT><ERROR>text</ERROR></SCORE_RESULT>" (at
 * most maxResultSize + 1 bytes with its NUL) on failure, or -1 with the service's own reply when that
 * reply carries "<ERROR>". Every failure of the service, the network or the input is reported this way;
 * only memory exhaustion or an internal failure of the XML library leaves as a C++ exception.
 */
HCS_EXPORT int32_t score(const char* request, int32_t requestLength, const char* inbound,
                         int32_t inboundLength, const char* matched, int32_t matchedLength,
                         char* resultBuffer, uint32_t maxResultSize);

/* The plugin's version, "1.0". The same pointer on every call, valid until the library is unloaded. */
HCS_EXPORT const char* getVersion(void);

#ifdef __cplusplus
}
#endif

#endif /* HTTP_CALLOUT_SCORING_H */
