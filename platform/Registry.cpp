#include "platform/Com.h"

#include "platform/TextConv.h"

#include <boost/lexical_cast.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include <cstring>
#include <map>
#include <memory>

namespace {

std::u16string fold(std::u16string s)
{
    for (char16_t& c : s)
        if (c >= u'A' && c <= u'Z')
            c = char16_t(c - u'A' + u'a');
    return s;
}

struct Value {
    std::u16string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct Key {
    std::u16string name;
    std::map<std::u16string, std::shared_ptr<Key>> subkeys; // by folded name
    std::map<std::u16string, Value> values;                 // by folded name
    bool deleted = false;
};

struct Registry {
    boost::mutex lock;
    std::map<HKEY, std::shared_ptr<Key>> roots;
    std::map<HKEY, std::shared_ptr<Key>> open;
    uintptr_t next = 0x1000;
};

Registry& reg()
{
    static Registry* r = new Registry();
    return *r;
}

std::shared_ptr<Key> keyOfLocked(HKEY h)
{
    Registry& r = reg();
    uintptr_t v = reinterpret_cast<uintptr_t>(h);
    if (v >= 0x80000000u && v <= 0x80000003u) {
        auto& root = r.roots[h];
        if (!root)
            root = std::make_shared<Key>();
        return root;
    }
    auto it = r.open.find(h);
    if (it == r.open.end() || it->second->deleted)
        return nullptr;
    return it->second;
}

std::vector<std::u16string> splitPath(LPCWSTR path)
{
    std::vector<std::u16string> parts;
    if (!path)
        return parts;
    std::u16string cur;
    for (const OLECHAR* p = path; *p; ++p) {
        if (*p == u'\\') {
            if (!cur.empty())
                parts.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(*p);
        }
    }
    if (!cur.empty())
        parts.push_back(cur);
    return parts;
}

HKEY openHandleLocked(std::shared_ptr<Key> k)
{
    Registry& r = reg();
    HKEY h = reinterpret_cast<HKEY>(r.next);
    r.next += 4;
    r.open[h] = std::move(k);
    return h;
}

void markDeleted(Key& k)
{
    k.deleted = true;
    for (auto& s : k.subkeys)
        markDeleted(*s.second);
}

} // namespace

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM, void*, PHKEY result, LPDWORD disposition)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    boost::lock_guard<boost::mutex> g(reg().lock);
    auto k = keyOfLocked(key);
    if (!k)
        return ERROR_INVALID_HANDLE;
    bool created = false;
    for (const auto& part : splitPath(subKey)) {
        auto& slot = k->subkeys[fold(part)];
        if (!slot) {
            slot = std::make_shared<Key>();
            slot->name = part;
            created = true;
        }
        k = slot;
    }
    *result = openHandleLocked(k);
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, PHKEY result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    boost::lock_guard<boost::mutex> g(reg().lock);
    auto k = keyOfLocked(key);
    if (!k)
        return ERROR_INVALID_HANDLE;
    for (const auto& part : splitPath(subKey)) {
        auto it = k->subkeys.find(fold(part));
        if (it == k->subkeys.end())
            return ERROR_FILE_NOT_FOUND;
        k = it->second;
    }
    *result = openHandleLocked(k);
    return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD size)
{
    if (size && !data)
        return ERROR_INVALID_PARAMETER;
    boost::lock_guard<boost::mutex> g(reg().lock);
    auto k = keyOfLocked(key);
    if (!k)
        return ERROR_INVALID_HANDLE;
    Value v;
    v.name = name ? std::u16string(name) : std::u16string();
    v.type = type;
    v.data.assign(data, data + size);
    k->values[fold(v.name)] = std::move(v);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size)
{
    boost::lock_guard<boost::mutex> g(reg().lock);
    auto k = keyOfLocked(key);
    if (!k)
        return ERROR_INVALID_HANDLE;
    auto it = k->values.find(fold(name ? std::u16string(name) : std::u16string()));
    if (it == k->values.end())
        return ERROR_FILE_NOT_FOUND;
    const Value& v = it->second;
    if (type)
        *type = v.type;
    if (!size)
        return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    DWORD need = DWORD(v.data.size());
    if (!data) {
        *size = need;
        return ERROR_SUCCESS;
    }
    if (*size < need) {
        *size = need;
        return ERROR_MORE_DATA;
    }
    if (need)
        std::memcpy(data, v.data.data(), need);
    *size = need;
    return ERROR_SUCCESS;
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey)
{
    boost::lock_guard<boost::mutex> g(reg().lock);
    auto k = keyOfLocked(key);
    if (!k)
        return ERROR_INVALID_HANDLE;
    auto parts = splitPath(subKey);
    if (parts.empty())
        return ERROR_INVALID_PARAMETER;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        auto it = k->subkeys.find(fold(parts[i]));
        if (it == k->subkeys.end())
            return ERROR_FILE_NOT_FOUND;
        k = it->second;
    }
    auto it = k->subkeys.find(fold(parts.back()));
    if (it == k->subkeys.end())
        return ERROR_FILE_NOT_FOUND;
    if (!it->second->subkeys.empty())
        return ERROR_ACCESS_DENIED;
    markDeleted(*it->second);
    k->subkeys.erase(it);
    return ERROR_SUCCESS;
}

LONG RegDeleteValueW(HKEY key, LPCWSTR name)
{
    boost::lock_guard<boost::mutex> g(reg().lock);
    auto k = keyOfLocked(key);
    if (!k)
        return ERROR_INVALID_HANDLE;
    return k->values.erase(fold(name ? std::u16string(name) : std::u16string())) ? ERROR_SUCCESS
                                                                                 : ERROR_FILE_NOT_FOUND;
}

LONG RegCloseKey(HKEY key)
{
    boost::lock_guard<boost::mutex> g(reg().lock);
    uintptr_t v = reinterpret_cast<uintptr_t>(key);
    if (v >= 0x80000000u && v <= 0x80000003u)
        return ERROR_SUCCESS;
    return reg().open.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// ---- registry scripts ---------------------------------------------------------------------

namespace {

struct ScriptValue {
    std::u16string name; // empty: the default value
    char type = 's';
    std::u16string text;
};

struct ScriptKey {
    std::u16string name;
    bool noRemove = false;
    bool forceRemove = false;
    bool hasDefault = false;
    ScriptValue def;
    std::vector<ScriptValue> values;
    std::vector<ScriptKey> children;
};

struct ScriptRoot {
    HKEY root;
    std::vector<ScriptKey> keys;
};

struct Token {
    enum Kind { Word, Quoted, Open, Close, Equals } kind;
    std::u16string text;
};

class ScriptError : public std::exception {
public:
    const char* what() const noexcept override { return "malformed registry script"; }
};

std::string substitute(const std::string& script, const std::map<std::string, std::string>& repl)
{
    std::string out;
    for (size_t i = 0; i < script.size(); ++i) {
        if (script[i] != '%') {
            out.push_back(script[i]);
            continue;
        }
        size_t end = script.find('%', i + 1);
        if (end == std::string::npos)
            throw ScriptError();
        std::string name = script.substr(i + 1, end - i - 1);
        if (name.empty()) {
            out.push_back('%');
        } else {
            auto it = repl.find(name);
            if (it == repl.end())
                throw ScriptError();
            out += it->second;
        }
        i = end;
    }
    return out;
}

std::vector<Token> tokenize(const std::u16string& s)
{
    std::vector<Token> out;
    size_t i = 0;
    while (i < s.size()) {
        char16_t c = s[i];
        if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n') {
            ++i;
        } else if (c == u'{') {
            // "{guid}" written without blanks is a name, not a block.
            size_t j = i + 1;
            while (j < s.size() && s[j] != u'}' && s[j] != u'{' && s[j] != u' ' && s[j] != u'\t' && s[j] != u'\r' &&
                   s[j] != u'\n')
                ++j;
            if (j < s.size() && s[j] == u'}' && j > i + 1) {
                out.push_back({Token::Word, s.substr(i, j - i + 1)});
                i = j + 1;
            } else {
                out.push_back({Token::Open, u"{"});
                ++i;
            }
        } else if (c == u'}') {
            out.push_back({Token::Close, u"}"});
            ++i;
        } else if (c == u'=') {
            out.push_back({Token::Equals, u"="});
            ++i;
        } else if (c == u'\'') {
            std::u16string text;
            ++i;
            for (;;) {
                if (i >= s.size())
                    throw ScriptError();
                if (s[i] == u'\'') {
                    if (i + 1 < s.size() && s[i + 1] == u'\'') { // '' is a quote inside
                        text.push_back(u'\'');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                text.push_back(s[i++]);
            }
            out.push_back({Token::Quoted, text});
        } else {
            std::u16string text;
            while (i < s.size() && s[i] != u' ' && s[i] != u'\t' && s[i] != u'\r' && s[i] != u'\n' && s[i] != u'{' &&
                   s[i] != u'}' && s[i] != u'=' && s[i] != u'\'')
                text.push_back(s[i++]);
            out.push_back({Token::Word, text});
        }
    }
    return out;
}

class Parser {
public:
    explicit Parser(std::vector<Token> t) : t_(std::move(t)) {}

    std::vector<ScriptRoot> parse()
    {
        std::vector<ScriptRoot> roots;
        while (pos_ < t_.size()) {
            const Token& name = next();
            if (name.kind != Token::Word)
                throw ScriptError();
            std::u16string n = fold(name.text);
            HKEY root;
            if (n == u"hkcr" || n == u"hkey_classes_root")
                root = HKEY_CLASSES_ROOT;
            else if (n == u"hkcu" || n == u"hkey_current_user")
                root = HKEY_CURRENT_USER;
            else if (n == u"hklm" || n == u"hkey_local_machine")
                root = HKEY_LOCAL_MACHINE;
            else
                throw ScriptError();
            expect(Token::Open);
            roots.push_back(ScriptRoot{root, keys(0, nullptr)});
        }
        return roots;
    }

private:
    const Token& next()
    {
        if (pos_ >= t_.size())
            throw ScriptError();
        return t_[pos_++];
    }
    bool peek(Token::Kind k) const { return pos_ < t_.size() && t_[pos_].kind == k; }
    void expect(Token::Kind k)
    {
        if (next().kind != k)
            throw ScriptError();
    }
    std::u16string name()
    {
        const Token& t = next();
        if (t.kind != Token::Word && t.kind != Token::Quoted)
            throw ScriptError();
        if (t.text.empty())
            throw ScriptError();
        return t.text;
    }
    ScriptValue value(std::u16string valueName)
    {
        expect(Token::Equals);
        const Token& type = next();
        std::u16string ty = fold(type.text);
        if (type.kind != Token::Word || (ty != u"s" && ty != u"d"))
            throw ScriptError();
        const Token& text = next();
        if (text.kind != Token::Quoted)
            throw ScriptError();
        ScriptValue v{std::move(valueName), char(ty[0]), text.text};
        if (v.type == 'd') {
            try {
                boost::lexical_cast<uint32_t>(Utf16ToUtf8(v.text));
            } catch (const boost::bad_lexical_cast&) {
                throw ScriptError();
            }
        }
        return v;
    }
    // Keys up to and including the closing brace; "val" lines belong to the enclosing key.
    std::vector<ScriptKey> keys(int depth, std::vector<ScriptValue>* enclosingValues)
    {
        if (depth > 64)
            throw ScriptError();
        std::vector<ScriptKey> out;
        for (;;) {
            if (peek(Token::Close)) {
                ++pos_;
                return out;
            }
            if (peek(Token::Word) && fold(t_[pos_].text) == u"val") {
                ++pos_;
                std::u16string n = name();
                ScriptValue v = value(n);
                if (!enclosingValues)
                    throw ScriptError();
                enclosingValues->push_back(std::move(v));
                continue;
            }
            ScriptKey key;
            while (peek(Token::Word)) {
                std::u16string w = fold(t_[pos_].text);
                if (w == u"noremove")
                    key.noRemove = true;
                else if (w == u"forceremove")
                    key.forceRemove = true;
                else
                    break;
                ++pos_;
            }
            key.name = name();
            if (peek(Token::Equals)) {
                key.hasDefault = true;
                key.def = value(u"");
            }
            if (peek(Token::Open)) {
                ++pos_;
                key.children = keys(depth + 1, &key.values);
            }
            out.push_back(std::move(key));
        }
    }

    std::vector<Token> t_;
    size_t pos_ = 0;
};

std::vector<BYTE> bytesOf(const ScriptValue& v, DWORD& type)
{
    std::vector<BYTE> out;
    if (v.type == 'd') {
        uint32_t n = boost::lexical_cast<uint32_t>(Utf16ToUtf8(v.text));
        type = REG_DWORD;
        for (int i = 0; i < 4; ++i)
            out.push_back(BYTE(n >> (8 * i)));
    } else {
        type = REG_SZ;
        for (char16_t c : v.text) {
            out.push_back(BYTE(c & 0xFF));
            out.push_back(BYTE(c >> 8));
        }
        out.push_back(0);
        out.push_back(0);
    }
    return out;
}

void setValue(HKEY k, const ScriptValue& v)
{
    DWORD type;
    std::vector<BYTE> b = bytesOf(v, type);
    RegSetValueExW(k, v.name.c_str(), 0, type, b.data(), DWORD(b.size()));
}

void deleteTree(HKEY parent, const std::u16string& name)
{
    HKEY k;
    if (RegOpenKeyExW(parent, name.c_str(), 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS)
        return;
    std::vector<std::u16string> subs;
    {
        boost::lock_guard<boost::mutex> g(reg().lock);
        if (auto key = keyOfLocked(k))
            for (auto& s : key->subkeys)
                subs.push_back(s.second->name);
    }
    for (auto& s : subs)
        deleteTree(k, s);
    RegCloseKey(k);
    RegDeleteKeyW(parent, name.c_str());
}

void registerKeys(HKEY parent, const std::vector<ScriptKey>& keys)
{
    for (const ScriptKey& key : keys) {
        if (key.forceRemove)
            deleteTree(parent, key.name);
        HKEY k;
        if (RegCreateKeyExW(parent, key.name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) !=
            ERROR_SUCCESS)
            continue;
        if (key.hasDefault)
            setValue(k, key.def);
        for (const ScriptValue& v : key.values)
            setValue(k, v);
        registerKeys(k, key.children);
        RegCloseKey(k);
    }
}

void unregisterKeys(HKEY parent, const std::vector<ScriptKey>& keys)
{
    for (const ScriptKey& key : keys) {
        if (key.forceRemove) {
            deleteTree(parent, key.name);
            continue;
        }
        HKEY k;
        if (RegOpenKeyExW(parent, key.name.c_str(), 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS)
            continue;
        unregisterKeys(k, key.children);
        for (const ScriptValue& v : key.values)
            RegDeleteValueW(k, v.name.c_str());
        RegCloseKey(k);
        // A key goes once nothing else lives below it; NoRemove keys always stay.
        if (!key.noRemove)
            RegDeleteKeyW(parent, key.name.c_str());
    }
}

} // namespace

namespace platform {

void ResetRegistry()
{
    boost::lock_guard<boost::mutex> g(reg().lock);
    for (auto& r : reg().roots)
        markDeleted(*r.second);
    reg().roots.clear();
    reg().open.clear();
}

HRESULT RegistryScriptApply(const std::string& script, const std::map<std::string, std::string>& replacements,
                            bool registering)
{
    std::vector<ScriptRoot> roots;
    try {
        roots = Parser(tokenize(Utf8ToUtf16(substitute(script, replacements)))).parse();
    } catch (const ScriptError&) {
        return E_FAIL;
    }
    for (const ScriptRoot& r : roots) {
        if (registering)
            registerKeys(r.root, r.keys);
        else
            unregisterKeys(r.root, r.keys);
    }
    return S_OK;
}

} // namespace platform
