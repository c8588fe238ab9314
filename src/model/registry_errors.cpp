#include "model/registry_errors.h"

namespace qv {

std::string RegistryErrorText(LONG status) {
    const char* text;
    switch (status) {
    case 0: text = "The operation completed successfully."; break;
    case 1: text = "The key could not be opened."; break;
    case 2: text = "The system was unable to find the specified registry key or value."; break;
    case 3: text = "The system cannot find the path specified."; break;
    case 5: text = "Access is denied."; break;
    case 6: text = "The handle is invalid."; break;
    case 8:
    case 14: text = "Not enough memory resources are available to complete this operation."; break;
    case 53: text = "The network path was not found."; break;
    case 87: text = "The parameter is incorrect."; break;
    case 112: text = "There is not enough space on the disk."; break;
    case 161: text = "The specified path is invalid."; break;
    case 234: text = "More data is available."; break;
    case 259: text = "No more data is available."; break;
    case 1015: text = "The registry is corrupted."; break;
    case 1016: text = "An I/O operation initiated by the registry failed unrecoverably."; break;
    case 1018: text = "Illegal operation attempted on a registry key that has been marked for deletion."; break;
    case 1722: text = "The RPC server is unavailable."; break;
    case 1723: text = "The computer's registry service is busy or cannot be reached; try again later."; break;
    default: text = "The registry refused the operation."; break;
    }
    return std::string(text) + " (status " + std::to_string(status) + ")";
}

}  // namespace qv
