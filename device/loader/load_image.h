// Reading the loader file from "\temp\" into the loader buffer while
// Windows CE still runs.
#pragma once

// 1 when the file was read, 0 when not (the flash stays untouched).
int LoadLoaderImage();
