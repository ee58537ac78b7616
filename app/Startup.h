// What every program of the application does before its main dialog: the look, the serial
// layer's message box, and the COM device map of the profile.
#pragma once

class Profile;

// To be called once the QApplication exists. Warnings about the profile go to standard error.
void PrepareApplication(const Profile& profile);
