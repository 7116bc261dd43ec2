#include "settings/secretstore.h"

// libsecret's headers are C with GLib; they stay inside this file.
#include <libsecret/secret.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace kelvane {

std::string SecretLabel(const std::string& server, const std::string& user) {
    return "Kelvane: " + user + " on " + server;
}

namespace {

// A bus or service that is not there must not hold up a check: a second
// thread cancels whatever is still waiting when the time is up.
class Deadline {
  public:
    Deadline(GCancellable* cancel, std::chrono::seconds limit)
        : thread_([this, cancel, limit] {
              std::unique_lock lock(mutex_);
              if (!woken_.wait_for(lock, limit, [this] { return done_; }))
                  g_cancellable_cancel(cancel);
          }) {}
    ~Deadline() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        woken_.notify_all();
        thread_.join();
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable woken_;
    bool done_ = false;
    std::thread thread_;  // last: it uses the members above
};

constexpr std::chrono::seconds kQuickWait{5};
constexpr std::chrono::seconds kPromptWait{120};

const SecretSchema* Schema() {
    static const SecretSchema schema = [] {
        SecretSchema s{};
        s.name = "org.kelvane.Kelvane.Password";
        s.flags = SECRET_SCHEMA_NONE;  // matches this schema's items only
        s.attributes[0].name = "server";
        s.attributes[0].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        s.attributes[1].name = "user";
        s.attributes[1].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        return s;
    }();
    return &schema;
}

// Without an address GLib would try to start a bus of its own through X11;
// under cron there is none to find, and that is the answer.
bool SessionBusExpected() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address) return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    return runtime && *runtime && stat((std::string(runtime) + "/bus").c_str(), &st) == 0 &&
           S_ISSOCK(st.st_mode);
}

struct Attributes {
    GHashTable* table = g_hash_table_new(g_str_hash, g_str_equal);
    Attributes(const std::string& server, const std::string& user) {
        g_hash_table_insert(table, const_cast<char*>("server"), const_cast<char*>(server.c_str()));
        g_hash_table_insert(table, const_cast<char*>("user"), const_cast<char*>(user.c_str()));
    }
    ~Attributes() { g_hash_table_unref(table); }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;
};

std::string TakeError(GError*& error, const char* otherwise) {
    std::string text = error && error->message ? error->message : otherwise;
    g_clear_error(&error);
    return text;
}

bool Holds(GHashTable* attributes, const char* name, const std::string& value) {
    const auto* held = static_cast<const char*>(g_hash_table_lookup(attributes, name));
    return held && value == held;
}

class DesktopSecretStore : public SecretStore {
  public:
    explicit DesktopSecretStore(bool mayPrompt) : mayPrompt_(mayPrompt) {}
    ~DesktopSecretStore() override {
        if (service_) g_object_unref(service_);
    }

    Lookup Find(const std::string& server, const std::string& user) override {
        Lookup result;
        if (!Connect(result.detail)) return result;
        GCancellable* cancel = g_cancellable_new();
        GError* error = nullptr;
        Attributes attributes(server, user);
        GList* items = nullptr;
        {
            Deadline deadline(cancel, mayPrompt_ ? kPromptWait : kQuickWait);
            const auto flags = static_cast<SecretSearchFlags>(
                SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS |
                (mayPrompt_ ? SECRET_SEARCH_UNLOCK : SECRET_SEARCH_NONE));
            items = secret_service_search_sync(service_, Schema(), attributes.table, flags, cancel,
                                               &error);
        }
        g_object_unref(cancel);
        if (error) {
            result.detail = TakeError(error, "the keyring did not answer");
            return result;
        }
        result.status = Status::Missing;
        for (GList* at = items; at; at = at->next) {
            auto* item = static_cast<SecretItem*>(at->data);
            GHashTable* held = secret_item_get_attributes(item);
            const bool ours = Holds(held, "server", server) && Holds(held, "user", user);
            g_hash_table_unref(held);
            if (!ours) continue;
            SecretValue* value = secret_item_get_secret(item);
            if (!value) {
                // Found, but locked: the secret is there and out of reach.
                result.status = Status::Unavailable;
                result.detail = "the keyring is locked";
                continue;
            }
            gsize length = 0;
            const gchar* data = secret_value_get(value, &length);
            result.secret.assign(data, length);
            result.status = Status::Found;
            result.detail.clear();
            secret_value_unref(value);
            break;
        }
        g_list_free_full(items, g_object_unref);
        return result;
    }

    bool Store(const std::string& server, const std::string& user, const std::string& secret,
               std::string& detail) override {
        if (!Connect(detail)) return false;
        GCancellable* cancel = g_cancellable_new();
        GError* error = nullptr;
        bool stored = false;
        {
            Deadline deadline(cancel, kQuickWait);
            SecretCollection* collection = secret_collection_for_alias_sync(
                service_, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, cancel, &error);
            if (!collection) {
                detail = TakeError(error, "the keyring has no default collection");
            } else if (secret_collection_get_locked(collection) && !mayPrompt_) {
                detail = "the keyring is locked";
            }
            if (collection) g_object_unref(collection);
        }
        if (detail.empty()) {
            Deadline deadline(cancel, mayPrompt_ ? kPromptWait : kQuickWait);
            Attributes attributes(server, user);
            SecretValue* value =
                secret_value_new(secret.data(), static_cast<gssize>(secret.size()), "text/plain");
            stored = secret_service_store_sync(
                service_, Schema(), attributes.table, SECRET_COLLECTION_DEFAULT,
                SecretLabel(server, user).c_str(), value, cancel, &error);
            secret_value_unref(value);
            if (!stored) detail = TakeError(error, "the keyring refused the password");
        }
        g_object_unref(cancel);
        return stored;
    }

    bool Remove(const std::string& server, const std::string& user) override {
        std::string detail;
        if (!Connect(detail)) return false;
        GCancellable* cancel = g_cancellable_new();
        GError* error = nullptr;
        {
            Deadline deadline(cancel, mayPrompt_ ? kPromptWait : kQuickWait);
            Attributes attributes(server, user);
            secret_service_clear_sync(service_, Schema(), attributes.table, cancel, &error);
        }
        g_object_unref(cancel);
        const bool answered = error == nullptr;
        g_clear_error(&error);
        return answered;
    }

  private:
    bool Connect(std::string& detail) {
        if (service_) return true;
        if (!SessionBusExpected()) {
            detail = "no session bus";
            return false;
        }
        GCancellable* cancel = g_cancellable_new();
        GError* error = nullptr;
        {
            Deadline deadline(cancel, kQuickWait);
            service_ = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, cancel, &error);
        }
        g_object_unref(cancel);
        if (!service_) detail = TakeError(error, "no Secret Service on the session bus");
        g_clear_error(&error);
        return service_ != nullptr;
    }

    bool mayPrompt_;
    SecretService* service_ = nullptr;
};

}  // namespace

std::unique_ptr<SecretStore> MakeDesktopSecretStore(bool mayPrompt) {
    return std::make_unique<DesktopSecretStore>(mayPrompt);
}

}  // namespace kelvane
