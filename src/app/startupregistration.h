#pragma once

// Whether the program starts with the user's session, kept where the desktop looks for it:
// the per-user Run key on Windows, an XDG autostart entry elsewhere. Both are named
// "KestruneServer" and hold the running executable's path, quoted so that a path with
// spaces can never be read as another program followed by arguments.
namespace StartupRegistration {

bool isPresent();
void apply(bool enable);

} // namespace StartupRegistration
