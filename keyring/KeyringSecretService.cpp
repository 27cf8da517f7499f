// secret_service_search_for_dbus_paths_sync is in the part of libsecret's API that its
// authors mark as open to change; it has not changed since libsecret 0.18.
#define SECRET_API_SUBJECT_TO_CHANGE
#include <libsecret/secret.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "files/PathText.h"
#include "keyring/Keyring.h"
#include "keyring/KeyringItem.h"

// The Secret Service backend (libsecret over the D-Bus session bus; gnome-keyring and KWallet
// serve it). One item per protected file in the default collection, under the schema
// "org.quorvane.Quorvane.Passphrase", found by its attributes "application" (the program's id),
// "path", "user" and "salt".

namespace quorvane {

namespace {

// How long one call may wait for the keyring: long enough for the user to answer the
// keyring's own unlock prompt, after which a service that does not answer is given up.
constexpr std::chrono::seconds kLongestWait{30};

constexpr const char* kApplicationAttribute = "application";
constexpr const char* kPathAttribute = "path";
constexpr const char* kUserAttribute = "user";
constexpr const char* kSaltAttribute = "salt";

const SecretSchema* PassphraseSchema() {
    static const SecretSchema schema = [] {
        SecretSchema value{};
        value.name = "org.quorvane.Quorvane.Passphrase";
        value.flags = SECRET_SCHEMA_NONE;
        const char* const names[] = {kApplicationAttribute, kPathAttribute, kUserAttribute,
                                     kSaltAttribute};
        for (std::size_t i = 0; i < std::size(names); ++i) {
            value.attributes[i].name = names[i];
            value.attributes[i].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        }
        return value;  // the zeroed entry after the last attribute ends the list
    }();
    return &schema;
}

// Whether a session bus can be reached without starting one: GLib would otherwise try to
// launch a bus of its own (dbus-launch on an X display), which neither helps nor returns
// quickly.
bool SessionBusConfigured() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && address[0] != '\0') {
        return true;
    }
    // The bus of a systemd user session, which GLib finds without the variable.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] == '\0') {
        return false;
    }
    std::error_code error;
    return std::filesystem::exists(std::filesystem::path(runtime) / "bus", error);
}

struct HashTableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
using Attributes = std::unique_ptr<GHashTable, HashTableUnref>;

Attributes ItemAttributes(const KeyringEntry& entry) {
    const std::string application(kKeyringApplicationId);
    const std::string path = PathText(KeyringItemPath(entry.file));
    return Attributes(secret_attributes_build(PassphraseSchema(), kApplicationAttribute,
                                              application.c_str(), kPathAttribute, path.c_str(),
                                              kUserAttribute, entry.user.c_str(), kSaltAttribute,
                                              entry.salt.c_str(), nullptr));
}

// The value of one attribute of a table, or empty.
std::string Attribute(GHashTable* attributes, const char* name) {
    const auto* value = static_cast<const char*>(g_hash_table_lookup(attributes, name));
    return value != nullptr ? std::string(value) : std::string();
}

// Cancels the calls given its cancellable once kLongestWait has passed, so that a keyring that
// never answers cannot hold the program: the sync calls of libsecret wait for as long as the
// service takes.
class Deadline final {
public:
    Deadline() : watcher_([this] { Watch(); }) {}
    ~Deadline() {
        {
            const std::lock_guard lock(mutex_);
            finished_ = true;
        }
        wake_.notify_one();
        watcher_.join();
        g_object_unref(cancellable_);
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    [[nodiscard]] GCancellable* Cancellable() const { return cancellable_; }

private:
    void Watch() {
        std::unique_lock lock(mutex_);
        if (!wake_.wait_for(lock, kLongestWait, [this] { return finished_; })) {
            g_cancellable_cancel(cancellable_);
        }
    }
    GCancellable* cancellable_ = g_cancellable_new();
    std::mutex mutex_;
    std::condition_variable wake_;
    bool finished_ = false;
    std::thread watcher_;  // last: starts once the members above exist
};

// Owns the error of a libsecret call.
class CallError final {
public:
    CallError() = default;
    ~CallError() { g_clear_error(&error_); }
    CallError(const CallError&) = delete;
    CallError& operator=(const CallError&) = delete;

    [[nodiscard]] GError** Out() { return &error_; }
    [[nodiscard]] bool Failed() const { return error_ != nullptr; }

    // A keyring that cannot be reached (no service on the bus, no answer, cancelled at the
    // deadline), is locked and stays so, or has no default collection is unavailable; an error
    // the keyring answered with is a failure.
    [[nodiscard]] KeyringStatus Status() const {
        if (error_->domain == SECRET_ERROR) {
            const bool unavailable = error_->code == SECRET_ERROR_IS_LOCKED ||
                                     error_->code == SECRET_ERROR_NO_SUCH_OBJECT;
            return unavailable ? KeyringStatus::Unavailable : KeyringStatus::Failed;
        }
        if (error_->domain == G_DBUS_ERROR) {
            switch (error_->code) {
                case G_DBUS_ERROR_FAILED:
                case G_DBUS_ERROR_NO_MEMORY:
                case G_DBUS_ERROR_ACCESS_DENIED:
                case G_DBUS_ERROR_INVALID_ARGS:
                case G_DBUS_ERROR_NOT_SUPPORTED:
                case G_DBUS_ERROR_LIMITS_EXCEEDED:
                    return KeyringStatus::Failed;
                default:
                    return KeyringStatus::Unavailable;
            }
        }
        return KeyringStatus::Unavailable;  // the bus's connection, spawning, cancelling
    }

private:
    GError* error_ = nullptr;
};

// After a call found nothing unlocked: either there is no item, or there is one whose
// collection stayed locked (its unlock prompt was refused or could not be shown).
KeyringStatus LockedOrNotFound(GHashTable* attributes, GCancellable* cancellable) {
    CallError error;
    SecretService* const service =
        secret_service_get_sync(SECRET_SERVICE_NONE, cancellable, error.Out());
    if (error.Failed()) {
        return error.Status();
    }
    // Only the items' object paths: no proxies are made for locked items.
    gchar** unlockedPaths = nullptr;
    gchar** lockedPaths = nullptr;
    secret_service_search_for_dbus_paths_sync(service, PassphraseSchema(), attributes, cancellable,
                                              &unlockedPaths, &lockedPaths, error.Out());
    const bool locked = lockedPaths != nullptr && lockedPaths[0] != nullptr;
    g_strfreev(unlockedPaths);
    g_strfreev(lockedPaths);
    g_object_unref(service);
    if (error.Failed()) {
        return error.Status();
    }
    return locked ? KeyringStatus::Unavailable : KeyringStatus::NotFound;
}

}  // namespace

KeyringStatus RememberPassphrase(const KeyringEntry& entry, std::span<const char> passphrase) {
    // libsecret takes the passphrase as a C string.
    if (std::find(passphrase.begin(), passphrase.end(), '\0') != passphrase.end()) {
        return KeyringStatus::Failed;
    }
    if (!SessionBusConfigured()) {
        return KeyringStatus::Unavailable;
    }
    const std::string label = KeyringItemLabel(entry.user, KeyringItemPath(entry.file));
    SecretText text(passphrase.begin(), passphrase.end());
    text.push_back('\0');
    const Attributes attributes = ItemAttributes(entry);
    const Deadline deadline;
    CallError error;
    // An item with the same attributes is replaced, so a file keeps one item.
    const gboolean stored = secret_password_storev_sync(
        PassphraseSchema(), attributes.get(), SECRET_COLLECTION_DEFAULT, label.c_str(), text.data(),
        deadline.Cancellable(), error.Out());
    if (error.Failed()) {
        return error.Status();
    }
    return stored ? KeyringStatus::Done : KeyringStatus::Failed;
}

KeyringStatus RecallPassphrase(const KeyringEntry& entry, SecretText& passphrase) {
    passphrase.clear();
    if (!SessionBusConfigured()) {
        return KeyringStatus::Unavailable;
    }
    const Attributes attributes = ItemAttributes(entry);
    const Deadline deadline;
    CallError error;
    // A locked item is unlocked first, through the keyring's own prompt.
    gchar* const found = secret_password_lookupv_sync(PassphraseSchema(), attributes.get(),
                                                      deadline.Cancellable(), error.Out());
    if (error.Failed()) {
        return error.Status();
    }
    if (found != nullptr) {
        passphrase.assign(found, found + std::char_traits<char>::length(found));
        secret_password_free(found);  // wipes it
        return KeyringStatus::Done;
    }
    return LockedOrNotFound(attributes.get(), deadline.Cancellable());
}

KeyringStatus ForgetPassphrase(const KeyringEntry& entry) {
    if (!SessionBusConfigured()) {
        return KeyringStatus::Unavailable;
    }
    const Attributes attributes = ItemAttributes(entry);
    const Deadline deadline;
    CallError error;
    const gboolean removed = secret_password_clearv_sync(PassphraseSchema(), attributes.get(),
                                                         deadline.Cancellable(), error.Out());
    if (error.Failed()) {
        return error.Status();
    }
    if (removed) {
        return KeyringStatus::Done;
    }
    return LockedOrNotFound(attributes.get(), deadline.Cancellable());
}

bool KeyringAvailable() {
    if (!SessionBusConfigured()) {
        return false;
    }
    const Deadline deadline;
    CallError error;
    // Opening a session needs the service itself to answer, not only the bus.
    SecretService* const service =
        secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, deadline.Cancellable(), error.Out());
    if (service != nullptr) {
        g_object_unref(service);
    }
    return !error.Failed() && service != nullptr;
}

KeyringStatus ForgetStalePassphrases(const std::filesystem::path& folder,
                                     const std::function<bool(const KeyringEntry&)>& current) {
    if (!SessionBusConfigured()) {
        return KeyringStatus::Unavailable;
    }
    // Resolved as the items' own paths are, by a file of the folder.
    const std::string folderText = PathText(KeyringItemPath(folder / "x").parent_path());
    const Deadline deadline;
    CallError error;
    SecretService* const service =
        secret_service_get_sync(SECRET_SERVICE_NONE, deadline.Cancellable(), error.Out());
    if (error.Failed()) {
        return error.Status();
    }
    // Every item of the schema, locked ones included (their attributes are readable); items of
    // earlier versions carry the path only and are stale.
    const Attributes all(secret_attributes_build(PassphraseSchema(), nullptr));
    GList* const items =
        secret_service_search_sync(service, PassphraseSchema(), all.get(), SECRET_SEARCH_ALL,
                                   deadline.Cancellable(), error.Out());
    KeyringStatus status = error.Failed() ? error.Status() : KeyringStatus::Done;
    for (GList* node = items; node != nullptr; node = node->next) {
        auto* const item = static_cast<SecretItem*>(node->data);
        GHashTable* const attributes = secret_item_get_attributes(item);
        KeyringEntry entry;
        const std::string path = Attribute(attributes, kPathAttribute);
        entry.file = std::filesystem::path(std::u8string(path.begin(), path.end()));
        entry.user = Attribute(attributes, kUserAttribute);
        entry.salt = Attribute(attributes, kSaltAttribute);
        g_hash_table_unref(attributes);
        if (PathText(entry.file.parent_path()) != folderText || current(entry)) {
            continue;
        }
        CallError deleteError;
        if (!secret_item_delete_sync(item, deadline.Cancellable(), deleteError.Out())) {
            status = deleteError.Failed() ? deleteError.Status() : KeyringStatus::Failed;
        }
    }
    g_list_free_full(items, g_object_unref);
    g_object_unref(service);
    return status;
}

}  // namespace quorvane
