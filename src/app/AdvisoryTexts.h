// What the advisory dialog says before the first update, word for word, for every front end.
#pragma once

namespace tarvex {

inline constexpr const char* kAdvisoryCaption = "Important, Please Read ";
inline constexpr const char* kAdvisoryParagraphs[] = {
    "It is highly recommended that you make a backup of the control panel configuration data before "
    "flash updating the firmware. In some cases, the panel configuration data will be restored to the "
    "factory default settings after performing the flash update.",
    "To create a backup \u2013 Connect the Tarvex UDL software via a USB connection then once connected "
    "select \u2018Receive All\u2019. Once received select \u2018Menu\u2019 > \u2018Save\u2019 to store the "
    "current programming.",
    "After the flash update it is advised to default the control panel (Please refer to the relevant "
    "installation manual for additional information). ",
    "Depending on the software versions it is highly recommended to ONLY send back the WIRELESS page "
    "from the Tarvex UDL and not all data. The remaining fields can be copy and pasted between two "
    "different UDL windows.",
    "Registered installers can download Tarvex UDL from the Installers portal:",
};
inline constexpr const char* kAdvisoryContact =
    "For additional information please contact our support team on:";
inline constexpr const char* kAdvisoryDontShow = "Do not show this message again";
inline constexpr const char* kAdvisoryClose = "Close";

// Support contact shown in the dialog.
inline constexpr const char* kSupportPhone = "01632 960123";
inline constexpr const char* kSupportEmail = "support@example.com";
inline constexpr const char* kMakerWebHost = "https://www.example.com";
inline constexpr const char* kInstallerPath = "/installer";

}  // namespace tarvex
