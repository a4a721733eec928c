// The registry module's last-error record and its error report.
#include "registry/module2.h"

namespace ttu::registry {

std::string RegInternalErrorText(int32_t code) {
  switch (code) {
    case 100: return "Il massimo numero di chiavi previste è stato superato";
    case 200: return "Il tipo dichiarato non corrisponde al valore passato come parametro";
    case 300: return "Il tipo passato come parametro non risulta essere valido";
    default: return "Errore imprevisto";
  }
}

std::string RegApiErrorText(int32_t code) {
  switch (code) {
    case 2: return "La chiave/valore specificata/o non esiste";
    case 5: return "Accesso negato al registro";
    case 14: return "Out of memory";
    case 87: return "Parametro non valido";
    case 1009: return "Il database del registro risulta essere danneggiato";
    case 1010: return "Il nome della chiave non risulta essere corretto";
    case 1011: return "Non è stato possibile aprire la chiave specificata";
    case 1012: return "Non è stato possibile leggere la chiave specificata";
    case 1013: return "Non è stato possibile scrivere la chiave specificata";
    default: return "Errore non previsto";
  }
}

void Module2::ResetRegError() { RegLastError = RegError{}; }

void Module2::SetRegInternalError(int32_t code) {
  RegLastError = {code, kRegErrorSource, RegInternalErrorText(code)};
}

void Module2::SetRegApiError(int32_t code) {
  RegLastError = {code, kRegErrorSource, RegApiErrorText(code)};
}

void Module2::ShowErrorReport(const RunError& failure, const std::optional<std::string>& caption) {
  const std::string message = caption.value_or("") + ". ErrorLine:" +
                              std::to_string(failure.Line()) + ".  " +
                              std::to_string(failure.Number()) + " - " + failure.Description() +
                              "; ID : " + failure.Source();
  dialogs_.MessageBox(message, platform::kStyleCritical, std::string());
  dialogs_.ResetMousePointer();
}

}  // namespace ttu::registry
