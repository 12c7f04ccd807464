// Prints the access list of a registry key or a folder in SDDL, so the
// installer test can see what the installer granted:
//   access.exe key  "MACHINE\SOFTWARE\..."
//   access.exe file "C:\ProgramData\..."
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  const SE_OBJECT_TYPE type = argv[1][0] == L'k' ? SE_REGISTRY_KEY : SE_FILE_OBJECT;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD rc = GetNamedSecurityInfoW(argv[2], type, DACL_SECURITY_INFORMATION, nullptr,
                                         nullptr, nullptr, nullptr, &descriptor);
  if (rc != ERROR_SUCCESS) {
    std::printf("error %lu\n", rc);
    return 1;
  }
  wchar_t* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                            DACL_SECURITY_INFORMATION, &text, nullptr)) {
    std::printf("error %lu\n", GetLastError());
    return 1;
  }
  std::printf("%ls\n", text);
  LocalFree(text);
  LocalFree(descriptor);
  return 0;
}
