#pragma once

#include "panel_api.h"

#include <httplib.h>

#include <QByteArray>
#include <QString>

#include <string>

namespace relais::web {

inline constexpr char kJson[] = "application/json; charset=utf-8";
inline constexpr size_t kMaxHeaderBytes = 8192;
inline constexpr size_t kMaxBodyBytes = 4096;

// Milliseconds on a steady clock; seconds of the wall clock.
qint64 steadyMs();
qint64 wallSeconds();

// An API answer as JSON, never kept by a cache.
void setReply(httplib::Response& res, const ApiReply& reply);
void setError(httplib::Response& res, int status, const QString& text);
// The text for an error the server itself answers.
QString errorText(int status);
// On every answer, the ones refused unread too.
httplib::Headers securityHeaders();

// The media type alone, without parameters, in lower case.
std::string mediaType(const httplib::Request& req);
// The value of one cookie in the Cookie header, empty if absent.
std::string cookieValue(const httplib::Request& req, const std::string& name);
// Whether the Host header names this machine's loopback.
bool hostIsLoopback(const std::string& host);
// A file of the page, compiled in.
QByteArray readResource(const QString& name);

} // namespace relais::web
