// The MySQL password in the desktop's keyring (Secret Service, KWallet)
// through QtKeychain, when the program was built with it and a session bus
// is there; otherwise every call answers "not available" and the window
// keeps the password in the owner-only settings file instead.
#pragma once

#include <QString>

#include <optional>

namespace ferrowane {

// Whether a keyring can be asked at all (built with QtKeychain and, on
// Linux, a D-Bus session bus named).
bool keyringAvailable();

// The stored password; nullopt when there is no keyring, nothing stored or the keyring refused.
std::optional<QString> readKeyringPassword();
// False when the keyring did not take it (the caller then keeps it elsewhere).
bool storeKeyringPassword(const QString& password);
// Removes a stored password; nothing happens without a keyring.
void forgetKeyringPassword();

}  // namespace ferrowane
