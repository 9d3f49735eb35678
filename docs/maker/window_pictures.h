// Pictures of the real window for the manuals: the window offscreen, wired to
// the core as the application wires it, with the adapter simulator plugged
// in process behind its serial port, worked through a session as a user
// would (read the adapter, run an inquiry, connect and configure the remote
// adapter, pair two adapters), each page saved as a PNG at the moment it
// shows what the manual describes; then the production window running two
// fixtures (kx627-cli workers beside this program, in front of simulated
// units).
#pragma once

#include <QString>

namespace kx::manual {

// The pictures takeWindowPictures saves, by file name.
inline constexpr const char* kPictureLocalDevice = "local_device.png";
inline constexpr const char* kPictureConnection = "connection.png";
inline constexpr const char* kPictureRemoteDevice = "remote_device.png";
inline constexpr const char* kPicturePairing = "pairing.png";
inline constexpr const char* kPictureProduction = "production.png";

// Saves the pictures into `dir`. Empty on success, else what went wrong.
// Needs a QApplication; changes the current directory while it runs.
QString takeWindowPictures(const QString& dir);

}  // namespace kx::manual
