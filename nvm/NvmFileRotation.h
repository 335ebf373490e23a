#pragma once

// Makes the complete "newNVM.xml" of the current directory the live
// "NVM.xml", keeping the previous file as "NVM.xml.bak". A live "NVM.xml"
// exists at every moment where the file system has hard links.
bool RotateNvmFiles();
