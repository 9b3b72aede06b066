#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

namespace tarn {

// Reads a file's location from text, as the package services receive it.
// - A text that begins with "/" is a plain absolute path, taken literally: spaces, "%", "?", "#" and
//   quotes are part of the file's name. Repeated leading slashes count as one (the same file).
// - Any other text must be a URL reference that strict URL parsing accepts ("file:///tmp/a%20b.pkg",
//   "downloads/x.pkg"); "a b.pkg", "%zz", "C:\x", ":x" are not.
// - An empty text and a text holding a NUL character are never a location.
std::optional<QUrl> fileReference(const QString& text);

// How a location appears in log lines and messages: a path reference as its path, exactly as given;
// any other URL fully percent-encoded ("file:///tmp/a%20b.pkg").
QString locationText(const QUrl& location);

// The file-system path a location names: a file URL on this machine or a reference without scheme and
// host. Absent for anything else (another scheme, another host).
std::optional<QString> localFilePath(const QUrl& location);

// Bytes as UTF-8 text; absent when they are not valid UTF-8.
std::optional<QString> decodedUtf8(const QByteArray& bytes);

} // namespace tarn
