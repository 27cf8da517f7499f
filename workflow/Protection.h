#pragma once

// Users protected by a passphrase: their models are in a protected speaker file
// (speaker/ProtectedFile.h) and stay locked until the passphrase is given, which happens
// only where the models are needed (encoding for the user, decoding by voice, verifying).
// Loading lists a protected user by name without asking anything; once unlocked, the models
// stay in memory until the program ends. A passphrase the keyring remembers is used without
// asking; protecting, unprotecting and changing the passphrase keep the models, and so the
// user's key: files encoded before still decode.
//
// Each command that writes the user's files holds the name's lock (files/NameLock.h) while it
// does, writes the new file before it removes the old one, reports success only once the new
// file was read back to the same key, and overwrites every file it removes (files/Overwrite.h).
// A protection interrupted between writing the protected file and removing the ordinary one
// leaves both: the user is listed as protected, and the next unlock finishes the protection when
// both files give the same key; when they do not, neither is touched and the user is told.

#include <string>
#include <string_view>

#include "workflow/FrontEnd.h"
#include "workflow/Passphrases.h"
#include "workflow/Users.h"

namespace quorvane {

// ---- Texts ----

// "The voice model of anna is locked by a passphrase"
[[nodiscard]] std::string LockedUserMessage(std::string_view name);
// "anna is protected already" / "anna is not protected"
[[nodiscard]] std::string AlreadyProtectedMessage(std::string_view name);
// "anna stays protected: its speaker files hold different voice models" (an unprotection refused
// after the unlock's note told the two models)
[[nodiscard]] std::string StillProtectedMessage(std::string_view name);
[[nodiscard]] std::string NotProtectedMessage(std::string_view name);

// ---- Registered users ----

// Makes the models of `name` available: done at once for an ordinary or unlocked user, else
// with the passphrase the keyring remembers or, failing that, the one the front end gives. A
// file whose key-derivation costs lie outside the bounds is refused with its reason before
// anything is asked. A wrong passphrase is refused with WrongPassphraseMessage and changes
// nothing; asking again is the caller's (the user's) choice. An interrupted protection of the
// user is finished here (see above).
[[nodiscard]] StepResult UnlockUser(Users& users, std::string_view name, FrontEnd& front);

// "protect NAME": writes the user's protected file under a new passphrase, then overwrites and
// removes the user's ordinary speaker files, and with the user's consent the files kept aside
// for the name. When an ordinary file cannot be removed, the user stays protected and the
// refusal names the file (the next unlock removes it). A user protected already is refused
// (AlreadyProtectedMessage), unless files are kept aside for the name: with consent they are
// overwritten and removed (KeptFilesRemovedMessage), without it the note says how
// (KeptFilesStayNote).
[[nodiscard]] StepResult ProtectUser(Users& users, std::string_view name, FrontEnd& front);
// "unprotect NAME": with the passphrase, writes the ordinary speaker file, then overwrites and
// removes the protected one and forgets the keyring's item.
[[nodiscard]] StepResult UnprotectUser(Users& users, std::string_view name, FrontEnd& front);
// "passphrase NAME": with the passphrase, replaces the protected file by one under a new
// passphrase (atomically), which must differ from the old one; the keyring then holds the new
// one or none.
[[nodiscard]] StepResult ChangePassphrase(Users& users, std::string_view name, FrontEnd& front);

}  // namespace quorvane
