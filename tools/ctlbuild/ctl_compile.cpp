// Compiling the readable database into an image, and decompiling any image
// back into the readable form.
//
// The compiler numbers the signatures in source order, virus by virus, and
// files each under its key bytes in the COM and EXE first-byte tables; it
// refuses every database the service's loader would refuse for its size.
// The decompiler accepts any image, also a hostile one, and drops what the
// readable form cannot express, saying what it dropped.
//
// State: none. Callers: ctlbuild, the source reader (for the limit checks)
// and the tests.

#include <algorithm>
#include <bitset>
#include <cstring>
#include <queue>

#include "tools/ctlbuild/ctl_checks.h"
#include "tools/ctlbuild/ctl_image.h"

std::string CtlGrouped(long value) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  std::string out;
  for (size_t i = 0; i < digits.size(); i++) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return value < 0 ? "-" + out : out;
}

std::string CtlCountOf(size_t n, const char* noun) {
  return CtlGrouped((long)n) + " " + noun + (n == 1 ? "" : "s");
}

// A name for a record field: at most `max` bytes, no NUL (a NUL would end
// the name early when the record is read back).
static bool CheckText(const std::string& text, int max, const char* what, std::string* why) {
  if (text.find('\0') != std::string::npos) {
    *why = std::string(what) + " contains a NUL byte";
    return false;
  }
  if (text.size() > (size_t)max) {
    *why = std::string(what) + " \"" + text + "\" has " + CtlCountOf(text.size(), "byte") +
           "; at most " + std::to_string(max) + " are allowed";
    return false;
  }
  return true;
}

bool CheckCtlTitle(const std::string& title, std::string* why) {
  return CheckText(title, kCtlTitleSize, "the title", why);
}

bool CheckCtlVirusName(const std::string& name, std::string* why) {
  return CheckText(name, kCtlMaxName, "the name", why);
}

bool CheckCtlMacroName(const std::string& name, std::string* why) {
  return CheckText(name, kCtlMaxMacroName, "the macro name", why);
}

bool CheckCtlSignaturePattern(const std::vector<uint8_t>& pattern, std::string* why) {
  if (pattern.size() < (size_t)kCtlMinSignature || pattern.size() > (size_t)kCtlMaxSignature) {
    *why = "a signature pattern has " + CtlCountOf(pattern.size(), "byte") + "; it needs " +
           std::to_string(kCtlMinSignature) + " to " + std::to_string(kCtlMaxSignature);
    return false;
  }
  return true;
}

bool CheckCtlConfirmPattern(const std::vector<uint8_t>& pattern, std::string* why) {
  if (pattern.size() < (size_t)kCtlMinConfirm || pattern.size() > (size_t)kCtlMaxConfirm) {
    *why = "a confirmation pattern has " + CtlCountOf(pattern.size(), "byte") + "; it needs " +
           std::to_string(kCtlMinConfirm) + " to " + std::to_string(kCtlMaxConfirm);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Compiling.

using KeySet = std::bitset<256>;

static KeySet KeysOf(const std::vector<uint8_t>& keys) {
  KeySet set;
  for (uint8_t k : keys) set.set(k);
  return set;
}

// Lays out one kind's index list and first-byte table: for each byte value
// in ascending order, the signatures filed under it in signature order.
static bool BuildFirstByteTable(const std::vector<KeySet>& keys, const char* kind,
                                std::vector<int16_t>* list, std::array<CtlFirstByte, 256>* table,
                                std::string* error) {
  size_t total = 0;
  for (const KeySet& k : keys) total += k.count();
  if (total > (size_t)kCtlMaxListEntries) {
    *error = std::string("the ") + kind + " index list would have " + CtlGrouped((long)total) +
             " entries (one per signature and key byte); at most " +
             CtlGrouped(kCtlMaxListEntries) + " are allowed";
    return false;
  }
  for (int b = 0; b < 256; b++) {
    size_t start = list->size();
    for (size_t s = 0; s < keys.size(); s++)
      if (keys[s].test(b)) list->push_back((int16_t)s);
    size_t count = list->size() - start;
    if (count > (size_t)kCtlMaxUnderOneByte) {
      *error = std::string("more than ") + CtlGrouped(kCtlMaxUnderOneByte) +
               " signatures are filed under the " + kind + " key byte " + std::to_string(b);
      return false;
    }
    (*table)[b].start = count ? (uint16_t)start : 0;
    (*table)[b].count = (uint16_t)count;
  }
  return true;
}

static bool CompileMacro(const CtlMacroRecord& m, std::string* why) {
  if (!CheckCtlVirusName(m.name, why)) return false;
  if (m.names.size() > (size_t)kCtlMaxMacroNames) {
    *why = "it has " + std::to_string(m.names.size()) + " macro names; at most " +
           std::to_string(kCtlMaxMacroNames) + " fit in its name block";
    return false;
  }
  for (const std::string& name : m.names)
    if (!CheckCtlMacroName(name, why)) return false;
  if ((size_t)m.nameCount != m.names.size()) {
    *why = "its name count " + std::to_string(m.nameCount) + " differs from its " +
           std::to_string(m.names.size()) + " names";
    return false;
  }
  return true;
}

bool CompileCtlDatabase(const CtlDatabase& db, CtlImage* image, std::string* error) {
  CtlImage im{};
  std::string why;
  if (!CheckCtlTitle(db.title, &why)) {
    *error = why;
    return false;
  }
  im.title = db.title;

  std::vector<char> seen(65536, 0);
  std::vector<KeySet> comKeys, exeKeys;
  for (const CtlVirusDef& v : db.viruses) {
    std::string where = "virus " + std::to_string(v.number) + ": ";
    char& mark = seen[(uint16_t)v.number];
    if (mark) {
      *error = where + "the number is defined twice";
      return false;
    }
    mark = 1;
    if (v.names.empty() && v.signatures.empty() && v.confirms.empty() && v.vaccines.empty()) {
      *error = where + "it defines nothing";
      return false;
    }
    for (const std::string& name : v.names) {
      if (!CheckCtlVirusName(name, &why)) {
        *error = where + why;
        return false;
      }
      im.nameIndex.push_back(v.number);
      im.names.push_back(name);
    }
    for (size_t i = 0; i < v.signatures.size(); i++) {
      const CtlSignatureDef& s = v.signatures[i];
      if (!CheckCtlSignaturePattern(s.pattern, &why)) {
        *error = where + "signature " + std::to_string(i + 1) + ": " + why;
        return false;
      }
      CtlHead h{};
      h.comOffset = s.comOffset;
      h.exeOffset = s.exeOffset;
      std::memcpy(h.head, s.pattern.data(), 4);
      CtlTail t{};
      t.virusNumber = v.number;
      t.comOffset = s.comOffset;
      t.exeOffset = s.exeOffset;
      t.tailLength = (int8_t)(s.pattern.size() - 4);
      std::memcpy(t.tail, s.pattern.data() + 4, s.pattern.size() - 4);
      t.needsConfirmation = s.needsConfirmation ? 1 : 0;
      im.heads.push_back(h);
      im.tails.push_back(t);
      comKeys.push_back(KeysOf(s.comKeys));
      exeKeys.push_back(KeysOf(s.exeKeys));
    }
    for (size_t i = 0; i < v.confirms.size(); i++) {
      const CtlConfirmDef& c = v.confirms[i];
      if (!CheckCtlConfirmPattern(c.pattern, &why)) {
        *error = where + "confirmation pattern " + std::to_string(i + 1) + ": " + why;
        return false;
      }
      CtlConfirmPattern p{};
      p.comOffset = c.comOffset;
      p.exeOffset = c.exeOffset;
      p.length = (int8_t)c.pattern.size();
      std::memcpy(p.bytes, c.pattern.data(), c.pattern.size());
      im.confirmIndex.push_back(CtlConfirmIndex{(uint16_t)im.confirmPatterns.size(), v.number});
      im.confirmPatterns.push_back(p);
    }
    for (const CtlVaccineRecord& r : v.vaccines) {
      im.vaccineIndex.push_back(v.number);
      im.vaccines.push_back(r);
    }
  }

  struct Limit {
    size_t count;
    int max;
    const char* what;
  };
  const Limit limits[] = {
      {im.heads.size(), kCtlMaxSignatures, "signatures"},
      {im.confirmIndex.size(), kCtlMaxConfirms, "confirmation patterns"},
      {im.vaccineIndex.size(), kCtlMaxVaccines, "vaccines"},
      {im.nameIndex.size(), kCtlMaxNames, "names"},
      {db.macros.size(), kCtlMaxMacros, "macro viruses"},
  };
  for (const Limit& l : limits)
    if (l.count > (size_t)l.max) {
      *error = "the database has " + CtlGrouped((long)l.count) + " " + l.what + "; at most " +
               CtlGrouped(l.max) + " are allowed";
      return false;
    }
  if (!BuildFirstByteTable(comKeys, "COM", &im.comList, &im.comFirst, error)) return false;
  if (!BuildFirstByteTable(exeKeys, "EXE", &im.exeList, &im.exeFirst, error)) return false;

  for (const CtlMacroRecord& m : db.macros) {
    if (!CompileMacro(m, &why)) {
      *error = "macro virus \"" + m.name + "\": " + why;
      return false;
    }
    im.macros.push_back(m);
  }
  *image = im;
  return true;
}

// ---------------------------------------------------------------------------
// Decompiling.

static void Note(std::vector<std::string>* notes, const std::string& text) {
  if (notes) notes->push_back(text);
}

// A name as the source form can hold it: cut at a NUL and to `max` bytes.
static std::string FitName(const std::string& name, int max, std::vector<std::string>* notes) {
  std::string fit = name.substr(0, std::min(name.find('\0'), (size_t)max));
  if (fit != name)
    Note(notes, "name \"" + fit + "\" cut to " + std::to_string(fit.size()) + " bytes");
  return fit;
}

// The order of the viruses. Each section lists virus numbers in the order of
// the source that made it (the name index holds every named virus, the other
// sections only some). The order is the topological merge of these
// sequences; ties go to the number seen first, in the name index first. A
// hostile image whose sections disagree has its conflicts broken the same
// way.
static std::vector<int16_t> MergeVirusOrder(const std::vector<std::vector<int16_t>>& sequences,
                                            std::vector<std::string>* notes) {
  std::vector<int> node(65536, -1);
  std::vector<int16_t> numbers;
  for (const auto& seq : sequences)
    for (int16_t v : seq)
      if (node[(uint16_t)v] < 0) {
        node[(uint16_t)v] = (int)numbers.size();
        numbers.push_back(v);
      }
  size_t n = numbers.size();
  std::vector<std::vector<int>> next(n);
  std::vector<int> pending(n, 0);
  for (const auto& seq : sequences) {
    std::vector<char> inSeq(n, 0);
    int prev = -1;
    for (int16_t v : seq) {
      int id = node[(uint16_t)v];
      if (inSeq[id]) continue;    // first appearance only
      inSeq[id] = 1;
      if (prev >= 0) {
        next[prev].push_back(id);
        pending[id]++;
      }
      prev = id;
    }
  }
  // Node ids are ranks: smaller ids were seen first.
  std::priority_queue<int, std::vector<int>, std::greater<int>> ready;
  for (size_t i = 0; i < n; i++)
    if (pending[i] == 0) ready.push((int)i);
  std::vector<char> placed(n, 0);
  std::vector<int16_t> order;
  bool conflict = false;
  while (order.size() < n) {
    int id = -1;
    while (!ready.empty() && id < 0) {
      id = ready.top();
      ready.pop();
      if (placed[id]) id = -1;
    }
    if (id < 0) {
      conflict = true;
      for (size_t i = 0; i < n && id < 0; i++)
        if (!placed[i]) id = (int)i;
    }
    placed[id] = 1;
    order.push_back(numbers[id]);
    for (int to : next[id])
      if (--pending[to] == 0 && !placed[to]) ready.push(to);
  }
  if (conflict)
    Note(notes, "the sections list the viruses in conflicting orders; the name index wins");
  return order;
}

// The signature numbers filed under each byte of one first-byte table.
static void CollectKeys(const std::array<CtlFirstByte, 256>& table,
                        const std::vector<int16_t>& list, size_t signatures,
                        const char* kind, std::vector<KeySet>* keys,
                        std::vector<std::string>* notes) {
  for (int b = 0; b < 256; b++) {
    size_t start = table[b].start, count = table[b].count;
    if (count == 0) continue;
    if (start + count > list.size())
      Note(notes, std::string(kind) + " key " + std::to_string(b) +
                      ": list positions beyond the end of the index list dropped");
    for (size_t pos = start; pos < start + count && pos < list.size(); pos++) {
      int s = list[pos];
      if (s < 0 || (size_t)s >= signatures) {
        Note(notes, std::string(kind) + " key " + std::to_string(b) + ": signature number " +
                        std::to_string(s) + " does not exist");
        continue;
      }
      (*keys)[s].set(b);
    }
  }
}

static std::vector<uint8_t> KeyBytes(const KeySet& set) {
  std::vector<uint8_t> bytes;
  for (int b = 0; b < 256; b++)
    if (set.test(b)) bytes.push_back((uint8_t)b);
  return bytes;
}

CtlDatabase DecompileCtlImage(const CtlImage& im) { return DecompileCtlImage(im, nullptr); }

CtlDatabase DecompileCtlImage(const CtlImage& im, std::vector<std::string>* notes) {
  CtlDatabase db;
  db.title = FitName(im.title, kCtlTitleSize, notes);

  size_t n = std::min(im.heads.size(), im.tails.size());
  if (im.heads.size() != im.tails.size())
    Note(notes, "signature heads and tails differ in number; the signatures without both dropped");
  std::vector<KeySet> comKeys(n), exeKeys(n);
  CollectKeys(im.comFirst, im.comList, n, "COM", &comKeys, notes);
  CollectKeys(im.exeFirst, im.exeList, n, "EXE", &exeKeys, notes);

  // Every expressible item, with the virus number it belongs to.
  struct Item {
    int16_t virus;
    size_t index;
  };
  std::vector<Item> sigs, confirms, vaccines, names;
  for (size_t i = 0; i < n; i++) {
    const CtlTail& t = im.tails[i];
    if (t.tailLength < 1 || t.tailLength > 12) {
      Note(notes, "signature " + std::to_string(i) + ": tail length " +
                      std::to_string(t.tailLength) + " is outside 1..12; dropped");
      continue;
    }
    if (t.comOffset != im.heads[i].comOffset || t.exeOffset != im.heads[i].exeOffset)
      Note(notes, "signature " + std::to_string(i) +
                      ": the tail's offsets differ from the head's; the head's kept");
    sigs.push_back(Item{t.virusNumber, i});
  }
  for (size_t i = 0; i < im.confirmIndex.size(); i++) {
    const CtlConfirmIndex& e = im.confirmIndex[i];
    if (e.patternNumber >= im.confirmPatterns.size()) {
      Note(notes, "confirmation entry " + std::to_string(i) + ": pattern " +
                      std::to_string(e.patternNumber) + " does not exist; dropped");
      continue;
    }
    int length = im.confirmPatterns[e.patternNumber].length;
    if (length < kCtlMinConfirm || length > kCtlMaxConfirm) {
      Note(notes, "confirmation pattern " + std::to_string(e.patternNumber) + ": length " +
                      std::to_string(length) + " is outside 1..12; dropped");
      continue;
    }
    confirms.push_back(Item{e.virusNumber, i});
  }
  for (size_t i = 0; i < im.vaccineIndex.size(); i++) {
    if (i >= im.vaccines.size()) {
      Note(notes, "vaccine entries without a record dropped");
      break;
    }
    vaccines.push_back(Item{im.vaccineIndex[i], i});
  }
  for (size_t i = 0; i < im.nameIndex.size(); i++) {
    if (i >= im.names.size()) {
      Note(notes, "name entries without a record dropped");
      break;
    }
    names.push_back(Item{im.nameIndex[i], i});
  }

  std::vector<std::vector<int16_t>> sequences(4);
  const std::vector<Item>* lists[] = {&names, &sigs, &confirms, &vaccines};
  for (int k = 0; k < 4; k++)
    for (const Item& it : *lists[k]) sequences[k].push_back(it.virus);
  std::vector<int16_t> order = MergeVirusOrder(sequences, notes);
  std::vector<int> slot(65536, -1);
  for (size_t i = 0; i < order.size(); i++) {
    slot[(uint16_t)order[i]] = (int)i;
    CtlVirusDef v{};
    v.number = order[i];
    db.viruses.push_back(v);
  }

  // Items of one virus that stand apart in their section are brought
  // together, which moves them in the order of that section.
  const char* kinds[] = {"names", "signatures", "confirmation entries", "vaccines"};
  for (int k = 0; k < 4; k++) {
    std::vector<int> last(order.size(), -1);
    bool apart = false;
    for (size_t i = 0; i < lists[k]->size(); i++) {
      int at = slot[(uint16_t)(*lists[k])[i].virus];
      if (last[at] >= 0 && last[at] != (int)i - 1) apart = true;
      last[at] = (int)i;
    }
    if (apart)
      Note(notes, std::string("the ") + kinds[k] +
                      " of some viruses are not adjacent; they are brought together");
  }

  for (const Item& it : names)
    db.viruses[slot[(uint16_t)it.virus]].names.push_back(
        FitName(im.names[it.index], kCtlMaxName, notes));
  for (const Item& it : sigs) {
    const CtlHead& h = im.heads[it.index];
    const CtlTail& t = im.tails[it.index];
    CtlSignatureDef s{};
    s.comOffset = h.comOffset;
    s.exeOffset = h.exeOffset;
    s.pattern.assign(h.head, h.head + 4);
    s.pattern.insert(s.pattern.end(), t.tail, t.tail + t.tailLength);
    s.needsConfirmation = t.needsConfirmation != 0;
    s.comKeys = KeyBytes(comKeys[it.index]);
    s.exeKeys = KeyBytes(exeKeys[it.index]);
    db.viruses[slot[(uint16_t)it.virus]].signatures.push_back(s);
  }
  for (const Item& it : confirms) {
    const CtlConfirmPattern& p = im.confirmPatterns[im.confirmIndex[it.index].patternNumber];
    CtlConfirmDef c{};
    c.comOffset = p.comOffset;
    c.exeOffset = p.exeOffset;
    c.pattern.assign(p.bytes, p.bytes + p.length);
    db.viruses[slot[(uint16_t)it.virus]].confirms.push_back(c);
  }
  for (const Item& it : vaccines)
    db.viruses[slot[(uint16_t)it.virus]].vaccines.push_back(im.vaccines[it.index]);

  for (const CtlMacroRecord& m : im.macros) {
    CtlMacroRecord d = m;
    d.name = FitName(m.name, kCtlMaxName, notes);
    d.names.clear();
    if (m.nameCount < 0 || m.nameCount > kCtlMaxMacroNames)
      Note(notes, "macro virus \"" + d.name + "\": name count " + std::to_string(m.nameCount) +
                      " is outside 0..23; the names in its block kept");
    size_t used = m.nameCount < 0 ? 0 : std::min((size_t)m.nameCount, m.names.size());
    if (m.nameCount < 0 || m.nameCount > kCtlMaxMacroNames)
      used = std::min(m.names.size(), (size_t)kCtlMaxMacroNames);
    else if ((size_t)m.nameCount > m.names.size())
      Note(notes, "macro virus \"" + d.name + "\": name count " + std::to_string(m.nameCount) +
                      " exceeds its names; the empty ones dropped");
    for (size_t i = 0; i < used; i++)
      d.names.push_back(FitName(m.names[i], kCtlMaxMacroName, notes));
    d.nameCount = (int16_t)d.names.size();
    db.macros.push_back(d);
  }
  return db;
}
