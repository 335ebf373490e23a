#pragma once

// Makes the complete "newNVM.xml" of the current directory the live
// "NVM.xml", keeping the previous file as "NVM.xml.bak". A whole "NVM.xml"
// exists at every moment, on storage as well.
bool RotateNvmFiles();
