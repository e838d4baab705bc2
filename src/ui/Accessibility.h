#pragma once

namespace smsconf {

// Screen readers on Linux hear a drop-down list by its current item ("DI0")
// instead of its label ("Регистр:"): after this, every fixed drop-down list
// is named by its accessible name or label, and tells its item as its value.
void InstallAccessibleNames();

}  // namespace smsconf
