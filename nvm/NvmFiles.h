#pragma once

// The NVM defaults document and its companions, named relative to the NVM
// directory that the update works in.
inline constexpr char kNvmHere[] = ".";  // the NVM directory
inline constexpr char kNvmFile[] = "NVM.xml";
inline constexpr char kNvmOriginalCopy[] = "NVM.xml.ori";
inline constexpr char kNvmNewFile[] = "newNVM.xml";
inline constexpr char kNvmBackupFile[] = "NVM.xml.bak";
inline constexpr char kNvmEncoding[] = "UTF-8";
