#!/usr/bin/python3
"""pe_facts.py EXE: what an independent reader (Debian's python3-pefile) sees
in a Windows executable, one "key: value" line each, for the tests to check."""
import sys
import xml.dom.minidom

import pefile


def manifest_facts(text):
    """What Windows reads from an application manifest."""
    doc = xml.dom.minidom.parseString(text)
    print("manifest_xml_ok: True")
    for level in doc.getElementsByTagName("requestedExecutionLevel"):
        print("manifest_level:", level.getAttribute("level"), level.getAttribute("uiAccess"))
    print("manifest_supported_os:", len(doc.getElementsByTagName("supportedOS")))
    for tag in ("dpiAware", "dpiAwareness"):
        for node in doc.getElementsByTagName(tag):
            print("manifest_" + tag + ":", node.firstChild.data.strip())
    for identity in doc.getElementsByTagName("assemblyIdentity"):
        print("manifest_identity:", identity.getAttribute("name"), identity.getAttribute("version"))


def main(path):
    pe = pefile.PE(path)
    print("checksum_ok:", pe.verify_checksum())
    print("warnings:", len(pe.get_warnings()), "|".join(pe.get_warnings()))
    chars = pe.FILE_HEADER.Characteristics
    dll = pe.OPTIONAL_HEADER.DllCharacteristics
    print("large_address_aware:", bool(chars & 0x20))
    for name, bit in (("dynamic_base", 0x40), ("nx_compat", 0x100), ("high_entropy_va", 0x20),
                      ("terminal_server_aware", 0x8000)):
        print(name + ":", bool(dll & bit))
    print("timestamp:", pe.FILE_HEADER.TimeDateStamp)
    resource_sections = [s for s in pe.sections if s.Name.rstrip(b"\0") == b".rsrc"]
    rva = pe.OPTIONAL_HEADER.DATA_DIRECTORY[2].VirtualAddress
    print("resource_sections:", len(resource_sections))
    print("directory_in_rsrc:", any(s.contains_rva(rva) for s in resource_sections))
    entries = pe.DIRECTORY_ENTRY_RESOURCE.entries if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE") else []
    for t in entries:
        kind = str(t.name) if t.name else str(t.id)
        for n in t.directory.entries:
            for lang in n.directory.entries:
                data = lang.data.struct
                print("resource:", kind, n.id if n.id is not None else str(n.name), lang.id, data.Size)
                if t.id == 24:
                    text = pe.get_data(data.OffsetToData, data.Size).decode("utf-8")
                    manifest_facts(text)
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                print("version_block:", table.LangID.decode())
                for key, value in table.entries.items():
                    print("version_string:", key.decode(), "=", value.decode())
            for var in getattr(entry, "Var", []):
                for key, value in var.entry.items():
                    print("version_var:", key.decode(), "=", value)


if __name__ == "__main__":
    main(sys.argv[1])
