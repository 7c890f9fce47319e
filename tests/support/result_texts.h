// The result messages a user reads after a run, byte for byte in
// Windows-1252, for the in-process and the whole-program runs alike.
#pragma once

#include <string>

namespace testing_support {

inline const std::string SuccessTitle = "Herzlichen Gl\xFC"
                                        "ckwunsch . . .";
inline const std::string SuccessBody = "Das angeforderte Update wurde erfolgreich\r\n \r\n"
                                       "in das Programm eingearbeitet.";
inline const std::string ChecksumReason = "Die Pr\xFC"
                                          "fsummenberechnung ist fehlgeschlagen.";
inline const std::string FoldersInvalidReason = "Die Ordnerangaben des Updates sind ung\xFC"
                                                "ltig.";
inline const std::string RecoveryFailedReason = "Ein abgebrochenes Update konnte nicht zur\xFC"
                                                "ckgenommen werden.";

// The failure box's body for result `code`, with its reason line if any.
inline std::string FailureBody(const std::string &code, const std::string &reason = "") {
  std::string body =
      "Bei der Einarbeitung des Updates\r\nist ein Fehler aufgetreten (" + code + ").\r\n \r\n";
  if (!reason.empty())
    body += reason + "\r\n \r\n";
  return body + "Bitte holen Sie das Update erneut ab.";
}

} // namespace testing_support
