#include "production/log_address.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

namespace kx::production {
namespace {

// A span of `where` that holds a password.
struct Span {
  std::size_t begin, end;
};

bool isUriLog(const std::string& where) {
  return where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0;
}

// The passwords of a postgresql:// URI: after the user name's ':' in the
// part before '@' (which ends before the first '/'), and each password=
// query parameter.
std::vector<Span> uriPasswords(const std::string& where) {
  std::vector<Span> out;
  const std::size_t start = where.find("://") + 3;
  const std::size_t slash = where.find_first_of("/?", start);
  const std::size_t at = where.find('@', start);
  if (at != std::string::npos && (slash == std::string::npos || at < slash)) {
    const std::size_t colon = where.find(':', start);
    if (colon < at) out.push_back({colon + 1, at});
  }
  std::size_t query = where.find('?', start);
  while (query != std::string::npos) {
    const std::size_t begin = query + 1;
    const std::size_t end = std::min(where.find('&', begin), where.size());
    if (where.compare(begin, 9, "password=") == 0) out.push_back({begin + 9, end});
    query = end < where.size() ? end : std::string::npos;
  }
  return out;
}

// The password values of a libpq "key = value" string; a value is bare up
// to white space, or single-quoted with backslash escapes.
std::vector<Span> keywordPasswords(const std::string& where) {
  std::vector<Span> out;
  auto space = [&](std::size_t i) {
    return i < where.size() && std::isspace(static_cast<unsigned char>(where[i]));
  };
  std::size_t i = 0;
  while (i < where.size()) {
    while (space(i)) ++i;
    const std::size_t keyBegin = i;
    while (i < where.size() && where[i] != '=' && !space(i)) ++i;
    const std::string key = where.substr(keyBegin, i - keyBegin);
    while (space(i)) ++i;
    if (i >= where.size() || where[i] != '=') {
      if (i == keyBegin) ++i;  // a stray character: step over it
      continue;
    }
    ++i;
    while (space(i)) ++i;
    const std::size_t valueBegin = i;
    if (i < where.size() && where[i] == '\'') {
      for (++i; i < where.size() && where[i] != '\''; ++i)
        if (where[i] == '\\') ++i;
      i = std::min(i + 1, where.size());
    } else {
      while (i < where.size() && !space(i)) ++i;
    }
    if (key == "password") out.push_back({valueBegin, i});
  }
  return out;
}

std::vector<Span> passwordSpans(const std::string& where) {
  if (isUriLog(where)) return uriPasswords(where);
  if (isPostgresAddress(where)) return keywordPasswords(where);
  return {};
}

std::string percentDecoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

void replaceAll(std::string& text, const std::string& secret) {
  if (secret.empty()) return;
  for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3))
    text.replace(at, secret.size(), "***");
}

}  // namespace

std::string shownAddress(const std::string& where) {
  std::string out = where;
  const auto spans = passwordSpans(where);
  // From the last, so that the earlier spans stay where they were.
  for (std::size_t i = spans.size(); i-- > 0;)
    out.replace(spans[i].begin, spans[i].end - spans[i].begin, "***");
  return out;
}

std::string withoutPassword(std::string text, const std::string& where) {
  for (const Span& s : passwordSpans(where)) {
    std::string secret = where.substr(s.begin, s.end - s.begin);
    if (secret.size() >= 2 && secret.front() == '\'' && secret.back() == '\'') {
      replaceAll(text, secret);
      std::string unquoted;
      for (std::size_t i = 1; i + 1 < secret.size(); ++i) {
        if (secret[i] == '\\' && i + 2 < secret.size()) ++i;
        unquoted += secret[i];
      }
      secret = unquoted;
    }
    replaceAll(text, secret);
    replaceAll(text, percentDecoded(secret));
  }
  return text;
}

bool isPostgresAddress(const std::string& where) {
  return isUriLog(where) || where.find("dbname=") != std::string::npos;
}

std::string splitPassword(const std::string& where, std::string* password) {
  password->clear();
  const auto spans = passwordSpans(where);
  std::string out = where;
  const bool uri = isUriLog(where);
  for (std::size_t i = spans.size(); i-- > 0;) {
    const Span s = spans[i];
    std::string secret = where.substr(s.begin, s.end - s.begin);
    if (uri) {
      secret = percentDecoded(secret);
    } else if (secret.size() >= 2 && secret.front() == '\'' && secret.back() == '\'') {
      std::string unquoted;
      for (std::size_t k = 1; k + 1 < secret.size(); ++k) {
        if (secret[k] == '\\' && k + 2 < secret.size()) ++k;
        unquoted += secret[k];
      }
      secret = unquoted;
    }
    if (password->empty()) *password = secret;  // the last one, as libpq takes it
    std::size_t begin = s.begin, end = s.end;
    if (uri && where[begin - 1] == ':') {
      --begin;  // user:secret@host: the user stays
    } else {
      // "password=secret" as a whole: its key (and, in a URI's query, the
      // separator before it, or the one after it when it comes first).
      begin = where.rfind("password", begin);
      // With none around it, the '?' of a query that holds nothing else goes.
      const bool separatorAfter = uri && end < where.size() && where[end] == '&';
      if (uri && (where[begin - 1] == '&' || !separatorAfter)) --begin;
      else if (separatorAfter) ++end;
    }
    out.erase(begin, end - begin);
  }
  return out;
}

}  // namespace kx::production
