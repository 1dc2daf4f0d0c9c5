// Read-only INI files: sections of entries, each entry's text also split into items.
#pragma once

#include <cstdint>
#include <string>

#include "vela/base.h"
#include "vela/bstr.h"
#include "vela/containers.h"

namespace vela {

class TIniVal : public base {
 public:
  // Builds the entry from one trimmed line.
  explicit TIniVal(const char* line);
  const Str& name() const { return name_; }
  const Str& text() const { return text_; }
  uint32_t item_count() const { return items_.size(); }
  const Str& item(uint32_t i) const { return items_[i]; }
  TCmpRes compare(const TIniVal& other, int) const { return name_.compare(other.name_, BStr::cmp_nocase); }

 private:
  Str name_;
  Str text_;
  Array<Str> items_;
};

class TIniSection : public base {
 public:
  explicit TIniSection(const char* name);
  const Str& name() const { return name_; }
  uint32_t count() const { return entries_.count(); }
  const TIniVal* at(uint32_t i) const { return entries_.at(i); }
  // First entry of that name, compared without regard to case.
  const TIniVal* find(const char* name) const;
  void add(TIniVal* v) { entries_.append(v); }
  TCmpRes compare(const TIniSection& other, int) const { return name_.compare(other.name_, BStr::cmp_nocase); }

 private:
  Str name_;
  TList<TIniVal> entries_{0, 0, 64};
};

class TIni : public base {
 public:
  // 0, or the system code of the failed open or read. Empties the object first.
  uint32_t Ld(const std::wstring& path, uint32_t share_mode);
  uint32_t count() const { return sections_.count(); }
  const TIniSection* at(uint32_t i) const { return sections_.at(i); }
  const TIniSection* find(const char* name) const;

 private:
  uint32_t parse(const char* text);
  TList<TIniSection> sections_{0, 0, 64};
};

} // namespace vela
