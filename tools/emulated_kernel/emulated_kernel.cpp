#include "emulated_kernel.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

extern "C" {
void EmuStubBeginCriticalSection();
void EmuStubEndCriticalSection();
void EmuStubHeapAllocate();
void EmuStubHeapFree();
void EmuStubGetDdbList();
void EmuStubGetDeviceList();
void EmuStubUnknown();
uint32_t EmuCallWithRegisters(const void* procedure, emulated_kernel::Registers* registers);

void EmuBeginCriticalSection(uint32_t flags) { emulated_kernel::Kernel::Instance().BeginCriticalSection(flags); }
void EmuEndCriticalSection() { emulated_kernel::Kernel::Instance().EndCriticalSection(); }
uint32_t EmuHeapAllocate(uint32_t size, uint32_t flags) {
  return emulated_kernel::Kernel::Instance().HeapAllocate(size, flags);
}
uint32_t EmuHeapFree(uint32_t address, uint32_t flags) {
  return emulated_kernel::Kernel::Instance().HeapFree(address, flags) ? 1 : 0;
}
uint32_t EmuGetDdbList() { return emulated_kernel::Kernel::Instance().GetDdbList(); }
uint32_t EmuGetDeviceList() { return emulated_kernel::Kernel::Instance().GetDeviceList(); }
}

namespace emulated_kernel {
namespace {

// The services this kernel provides, by identifier (device ID << 16 | service number), and
// the slots that patched call sites call through.
struct Service {
  uint32_t id;
  void (*stub)();
};
const Service kServices[] = {
    {0x0001001F, EmuStubBeginCriticalSection},  // Begin_Critical_Section
    {0x00010020, EmuStubEndCriticalSection},    // End_Critical_Section
    {0x0001004F, EmuStubHeapAllocate},          // _HeapAllocate
    {0x00010051, EmuStubHeapFree},              // _HeapFree
    {0x0001013F, EmuStubGetDdbList},            // VMM_GetDDBList
    {0x00270005, EmuStubGetDeviceList},         // VXDLDR_GetDeviceList
};
void* service_slots[std::size(kServices) + 1];  // the last one: unknown services

constexpr uint32_t kDeviceInfoSize = 35;
constexpr uint32_t kDdbSize = 80;
constexpr uint32_t kDdbName = 12;
constexpr uint32_t kDdbPrev = 0x3C;
// The signature every descriptor block carries in DDB_Prev: the multi-character constant
// 'Prev' as the platform's assembler and C compiler write it, first character most significant
// (the bytes "verP" in memory).
constexpr uint32_t kDdbSignature = uint32_t{'P'} << 24 | uint32_t{'r'} << 16 | uint32_t{'e'} << 8 | uint32_t{'v'};

LONG CALLBACK VectoredHandler(EXCEPTION_POINTERS* pointers) {
  return Kernel::Instance().HandleException(pointers);
}

uint32_t Dword(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}
uint16_t Word(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

std::string Hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(v));
  return text;
}

}  // namespace

Kernel& Kernel::Instance() {
  static Kernel kernel;
  return kernel;
}

Kernel::Kernel() {
  for (size_t i = 0; i < std::size(kServices); ++i) service_slots[i] = reinterpret_cast<void*>(kServices[i].stub);
  service_slots[std::size(kServices)] = reinterpret_cast<void*>(EmuStubUnknown);
  AddVectoredExceptionHandler(1, VectoredHandler);
}

std::string Kernel::ddb_name() const {
  return ddb_ ? std::string(reinterpret_cast<const char*>(ddb_ + kDdbName), 8) : std::string();
}

void Kernel::UnloadDriver() {
  FreeLists();
  for (Object& object : objects_) VirtualFree(object.base, 0, MEM_RELEASE);
  objects_.clear();
  ddb_ = nullptr;
  module_name_.clear();
}

bool Kernel::LoadDriver(const std::string& path, std::string* error) {
  UnloadDriver();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = "cannot open " + path + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  std::vector<uint8_t> b(GetFileSize(file, nullptr));
  DWORD got = 0;
  BOOL read = ReadFile(file, b.data(), static_cast<DWORD>(b.size()), &got, nullptr);
  CloseHandle(file);
  if (!read || got != b.size()) {
    *error = "cannot read " + path;
    return false;
  }
  auto fail = [&](const std::string& what) {
    UnloadDriver();
    *error = path + ": " + what;
    return false;
  };
  auto has = [&](uint64_t at, uint64_t count) { return at + count <= b.size(); };

  if (!has(0, 0x40) || Word(b, 0) != 0x5A4D) return fail("no DOS header");
  const uint32_t h = Dword(b, 0x3C);
  if (!has(h, 0xC4) || b[h] != 'L' || b[h + 1] != 'E') return fail("no LE header");
  if (Word(b, h + 0x0A) != 4) return fail("not a Windows virtual device");
  const uint32_t page_size = Dword(b, h + 0x28), pages = Dword(b, h + 0x14);
  const uint32_t last_page = Dword(b, h + 0x2C), data = Dword(b, h + 0x80);
  const uint32_t object_count = Dword(b, h + 0x44), object_table = h + Dword(b, h + 0x40);
  const uint32_t page_map = h + Dword(b, h + 0x48);
  if (page_size != 4096 || object_count == 0 || object_count > 16 ||
      !has(object_table, 24ull * object_count) || !has(page_map, 4ull * pages))
    return fail("damaged header");

  // Objects: each in memory of its own, pages copied from the file.
  std::vector<uint32_t> page_object(pages, UINT32_MAX), page_offset(pages, 0);
  for (uint32_t i = 0; i < object_count; ++i) {
    const uint32_t at = object_table + 24 * i;
    const uint32_t size = Dword(b, at), first = Dword(b, at + 12), count = Dword(b, at + 16);
    if (size > 0x1000000 || (count && (first == 0 || first - 1 + uint64_t{count} > pages)) ||
        uint64_t{count} * page_size > (size + page_size - 1) / page_size * page_size)
      return fail("object " + std::to_string(i + 1) + " is damaged");
    Object object;
    object.size = size;
    object.base = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, size ? size : 1, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
    if (!object.base) return fail("out of memory");
    objects_.push_back(object);
    for (uint32_t k = 0; k < count; ++k) {
      const uint32_t entry = page_map + 4 * (first - 1 + k);
      const uint32_t file_page = b[entry] << 16 | b[entry + 1] << 8 | b[entry + 2];
      if (b[entry + 3] != 0 || file_page == 0 || file_page > pages)
        return fail("page " + std::to_string(first + k) + " is not a plain page");
      const uint32_t bytes = file_page == pages ? last_page : page_size;
      const uint64_t from = data + uint64_t{file_page - 1} * page_size;
      const uint32_t into = k * page_size;
      const uint32_t copy = std::min<uint32_t>(bytes, size - into);
      if (!has(from, copy)) return fail("page " + std::to_string(file_page) + " lies outside the file");
      std::memcpy(object.base + into, &b[from], copy);
      page_object[first - 1 + k] = i;
      page_offset[first - 1 + k] = into;
    }
  }

  // Fixups: internal references, 32-bit offsets and 32-bit self-relative.
  const uint32_t fixup_pages = h + Dword(b, h + 0x68), fixup_records = h + Dword(b, h + 0x6C);
  if (!has(fixup_pages, 4ull * (pages + 1))) return fail("damaged fixup page table");
  for (uint32_t page = 0; page < pages; ++page) {
    uint64_t at = uint64_t{fixup_records} + Dword(b, fixup_pages + 4 * page);
    const uint64_t end = uint64_t{fixup_records} + Dword(b, fixup_pages + 4 * (page + 1));
    if (end > b.size() || (page_object[page] == UINT32_MAX && at != end)) return fail("damaged fixups");
    while (at < end) {
      if (!has(at, 7)) return fail("damaged fixup record");
      const uint8_t source = b[at], flags = b[at + 1];
      if ((source & 0xF0) || (source != 7 && source != 8) || (flags & 0xAF))
        return fail("fixup of a kind this loader does not know: " + Hex(source << 8 | flags));
      const int16_t in_page = static_cast<int16_t>(Word(b, at + 2));
      uint64_t p = at + 4;
      uint32_t target_object = (flags & 0x40) ? Word(b, p) : b[p];
      p += (flags & 0x40) ? 2 : 1;
      if (!has(p, (flags & 0x10) ? 4 : 2)) return fail("damaged fixup record");
      const uint32_t target_offset = (flags & 0x10) ? Dword(b, p) : Word(b, p);
      p += (flags & 0x10) ? 4 : 2;
      at = p;
      if (target_object == 0 || target_object > objects_.size()) return fail("fixup to a missing object");
      const Object& object = objects_[page_object[page]];
      const int64_t location = int64_t{page_offset[page]} + in_page;
      if (location < 0 || location + 4 > object.size) return fail("fixup outside its object");
      const uint32_t target = reinterpret_cast<uint32_t>(objects_[target_object - 1].base) + target_offset;
      const uint32_t address = reinterpret_cast<uint32_t>(object.base) + static_cast<uint32_t>(location);
      const uint32_t value = source == 7 ? target : target - (address + 4);
      std::memcpy(object.base + location, &value, 4);
    }
  }

  // The module name and the descriptor block (entry ordinal 1).
  const uint32_t names = h + Dword(b, h + 0x58);
  if (!has(names, 1) || !has(names + 1, b[names])) return fail("damaged resident name table");
  module_name_.assign(reinterpret_cast<const char*>(&b[names + 1]), b[names]);
  uint64_t at = h + Dword(b, h + 0x5C);
  uint32_t ordinal = 1;
  while (has(at, 2) && b[at] != 0 && !ddb_) {
    const uint8_t count = b[at], type = b[at + 1];
    if (type == 0) {
      ordinal += count;
      at += 2;
      continue;
    }
    if (type != 3 || !has(at, 4 + 5ull * count)) return fail("entry table of a kind this loader does not know");
    const uint16_t object = Word(b, at + 2);
    for (uint32_t k = 0; k < count; ++k, ++ordinal) {
      const uint32_t offset = Dword(b, at + 4 + 5 * k + 1);
      if (ordinal == 1 && object >= 1 && object <= objects_.size() && offset + kDdbSize <= objects_[object - 1].size)
        ddb_ = objects_[object - 1].base + offset;
    }
    at += 4 + 5ull * count;
  }
  if (!ddb_) return fail("no descriptor block at entry ordinal 1");
  uint32_t signature;
  std::memcpy(&signature, ddb_ + kDdbPrev, 4);
  if (signature != kDdbSignature)
    return fail("the descriptor block does not carry the signature 'Prev' (DDB_Prev is " + Hex(signature) + ")");
  return true;
}

void Kernel::FreeLists() {
  if (lists_) VirtualFree(lists_, 0, MEM_RELEASE);
  lists_ = nullptr;
  lists_size_ = 0;
  loader_head_ = chain_head_ = 0;
}

void Kernel::ProtectLists(bool readable) {
  DWORD old;
  if (lists_) VirtualProtect(lists_, lists_size_, readable ? PAGE_READONLY : PAGE_NOACCESS, &old);
}

void Kernel::SetLists(const std::vector<LoadedModule>& modules, const std::vector<std::string>& devices) {
  FreeLists();
  uint32_t size = 16;
  for (const LoadedModule& m : modules) size += kDeviceInfoSize + static_cast<uint32_t>(m.name.size()) + 1;
  size += kDdbSize * static_cast<uint32_t>(devices.size());
  lists_size_ = (size + 4095) / 4096 * 4096;
  lists_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, lists_size_, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  uint8_t* free_at = lists_;
  auto take = [&](uint32_t n) {
    uint8_t* p = free_at;
    free_at += n;
    return p;
  };
  auto address = [](const void* p) { return reinterpret_cast<uint32_t>(p); };

  // The loader's list, head first; the records are laid out last to first so that each
  // can point at the next.
  std::vector<uint32_t> name_at;
  for (const LoadedModule& m : modules) {
    uint8_t* name = take(static_cast<uint32_t>(m.name.size()) + 1);
    std::memcpy(name, m.name.c_str(), m.name.size() + 1);
    name_at.push_back(m.has_name ? address(name) : 0);
  }
  uint32_t next = 0;
  for (size_t i = modules.size(); i-- > 0;) {
    uint8_t* record = take(kDeviceInfoSize);
    std::memset(record, 0xEE, kDeviceInfoSize);  // the fields the driver does not read
    std::memcpy(record + 0, &next, 4);
    record[4] = modules[i].load_count;
    std::memcpy(record + 11, &name_at[i], 4);
    next = address(record);
  }
  loader_head_ = next;

  // The chain of descriptor blocks, with the driver's own linked in at its place.
  next = 0;
  for (size_t i = devices.size(); i-- > 0;) {
    std::string name = devices[i];
    name.resize(8, ' ');
    uint8_t* block;
    if (ddb_ && name == ddb_name()) {
      block = ddb_;
    } else {
      block = take(kDdbSize);
      std::memset(block, 0, kDdbSize);
      std::memcpy(block + kDdbName, name.data(), 8);
    }
    std::memcpy(block, &next, 4);
    next = address(block);
  }
  chain_head_ = next;
  ProtectLists(false);
}

Registers Kernel::Control(const Registers& in) {
  Registers r = in;
  const void* procedure;
  std::memcpy(&procedure, ddb_ + 0x18, 4);
  EmuCallWithRegisters(procedure, &r);
  if (critical_depth_ != 0) {
    Fault("the control procedure returned inside the critical section");
    critical_depth_ = 0;
    ProtectLists(false);
  }
  if (!allocations_.empty()) Fault(std::to_string(allocations_.size()) + " scratch record(s) not freed");
  return r;
}

uint32_t Kernel::DeviceIoControl(uint32_t code, const void* input, uint32_t input_size, void* output,
                                 uint32_t output_size, uint32_t* bytes_returned, bool* carry) {
  DIOCParams params{};
  params.VMHandle = kVmHandle;
  params.Internal2 = reinterpret_cast<uint32_t>(ddb_);
  params.dwIoControlCode = code;
  params.lpvInBuffer = reinterpret_cast<uint32_t>(input);
  params.cbInBuffer = input_size;
  params.lpvOutBuffer = reinterpret_cast<uint32_t>(output);
  params.cbOutBuffer = output_size;
  params.lpcbBytesReturned = reinterpret_cast<uint32_t>(bytes_returned);
  params.hDevice = 0x42;
  Registers r;
  r.eax = kW32DeviceIoControl;
  r.ebx = kVmHandle;
  r.esi = reinterpret_cast<uint32_t>(&params);
  Registers out = Control(r);
  if (carry) *carry = out.carry();
  return out.eax;
}

std::vector<std::string> Kernel::TakeFaults() {
  std::vector<std::string> faults;
  faults.swap(faults_);
  return faults;
}

void Kernel::Fault(const std::string& what) { faults_.push_back(what); }

void Kernel::BeginCriticalSection(uint32_t flags) {
  if (flags != 0) Fault("Begin_Critical_Section with flags " + Hex(flags));
  if (critical_depth_++ == 0) ProtectLists(true);
}

void Kernel::EndCriticalSection() {
  if (critical_depth_ == 0) {
    Fault("End_Critical_Section outside the critical section");
    return;
  }
  if (--critical_depth_ == 0) ProtectLists(false);
}

uint32_t Kernel::HeapAllocate(uint32_t size, uint32_t flags) {
  if (flags != 0) Fault("_HeapAllocate with flags " + Hex(flags));
  if (critical_depth_ != 0) Fault("scratch record allocated inside the critical section");
  if (heap_exhausted_) return 0;
  void* block = HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
  std::memset(block, 0xAB, size);
  allocations_.emplace_back(reinterpret_cast<uint32_t>(block), size);
  return reinterpret_cast<uint32_t>(block);
}

bool Kernel::HeapFree(uint32_t address, uint32_t flags) {
  if (flags != 0) Fault("_HeapFree with flags " + Hex(flags));
  if (critical_depth_ != 1) Fault("scratch record freed outside the critical section");
  for (auto it = allocations_.begin(); it != allocations_.end(); ++it) {
    if (it->first == address) {
      allocations_.erase(it);
      ::HeapFree(GetProcessHeap(), 0, reinterpret_cast<void*>(address));
      return true;
    }
  }
  Fault("_HeapFree of " + Hex(address) + ", which was not allocated");
  return false;
}

uint32_t Kernel::GetDdbList() {
  if (critical_depth_ == 0) Fault("VMM_GetDDBList outside the critical section");
  return chain_head_;
}

uint32_t Kernel::GetDeviceList() {
  if (critical_depth_ == 0) Fault("VXDLDR_GetDeviceList outside the critical section");
  return loader_head_;
}

void Kernel::UnknownService(uint32_t id) { Fault("call of unknown service " + Hex(id)); }

long Kernel::HandleException(void* exception_pointers) {
  auto* pointers = static_cast<EXCEPTION_POINTERS*>(exception_pointers);
  const DWORD code = pointers->ExceptionRecord->ExceptionCode;
  if (code != EXCEPTION_ACCESS_VIOLATION && code != EXCEPTION_PRIV_INSTRUCTION) return EXCEPTION_CONTINUE_SEARCH;
  uint8_t* at = reinterpret_cast<uint8_t*>(pointers->ContextRecord->Eip);

  // A dynamic link of the driver: int 20h, then the service identifier.
  for (const Object& object : objects_) {
    if (at < object.base || at + 6 > object.base + object.size || at[0] != 0xCD || at[1] != 0x20) continue;
    uint32_t id;
    std::memcpy(&id, at + 2, 4);
    const bool jump = id & 0x8000;
    const uint32_t service = id & ~0x8000u;
    size_t slot = std::size(kServices);
    for (size_t i = 0; i < std::size(kServices); ++i)
      if (kServices[i].id == service) slot = i;
    if (slot == std::size(kServices)) UnknownService(id);
    at[0] = 0xFF;
    at[1] = jump ? 0x25 : 0x15;  // jmp / call dword ptr [slot]
    const uint32_t slot_address = reinterpret_cast<uint32_t>(&service_slots[slot]);
    std::memcpy(at + 2, &slot_address, 4);
    FlushInstructionCache(GetCurrentProcess(), at, 6);
    ++patched_;
    return EXCEPTION_CONTINUE_EXECUTION;
  }

  // A read of the lists outside the critical section (or a write to them at all).
  if (code == EXCEPTION_ACCESS_VIOLATION && lists_ && pointers->ExceptionRecord->NumberParameters >= 2) {
    const uintptr_t address = pointers->ExceptionRecord->ExceptionInformation[1];
    const bool write = pointers->ExceptionRecord->ExceptionInformation[0] == 1;
    if (address >= reinterpret_cast<uintptr_t>(lists_) && address < reinterpret_cast<uintptr_t>(lists_) + lists_size_) {
      Fault(write ? "the driver wrote to a system list" : "system list read outside the critical section");
      DWORD old;
      VirtualProtect(lists_, lists_size_, PAGE_READWRITE, &old);
      return EXCEPTION_CONTINUE_EXECUTION;
    }
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace emulated_kernel
