// Reading one DWORD value out of a text export of the Windows registry
// (".reg" files): the configuration store of the module on systems that have
// no registry.
#ifndef TOVIX_REGISTRY_FILE_H
#define TOVIX_REGISTRY_FILE_H

#include <stddef.h>
#include <stdint.h>

namespace tovix {

// Find `"valueName"=dword:XXXXXXXX` under the section `[keyPath]` in a .reg
// export held in text[0..size). The export starts with "REGEDIT4" or
// "Windows Registry Editor Version 5.00"; it is ASCII/UTF-8 (a UTF-8
// byte-order mark is skipped) or UTF-16LE with its byte-order mark; lines end
// in LF or CRLF. Section and value names compare without regard to ASCII
// case. When the value occurs more than once the last one counts. Returns
// false for a missing header, section or value, and for a value that is not a
// dword.
bool findRegistryDword(const unsigned char *text, size_t size, const char *keyPath, const char *valueName,
                       uint32_t *value);

}  // namespace tovix

#endif
