// The codes that a scenario's scripts may name instead of writing the number: one table for the simulator that
// reads the scripts and the tests that write them.
#pragma once

#include <windows.h>
#include <wbemcli.h>

struct SimNamedCode {
    const wchar_t* name;
    unsigned long code;  // the WBEM codes are unsigned enumerators
};
constexpr SimNamedCode kSimNamedCodes[] = {
    {L"S_OK", S_OK},
    {L"WBEM_S_FALSE", WBEM_S_FALSE},
    {L"E_FAIL", 0x80004005UL},
    {L"E_ACCESSDENIED", 0x80070005UL},
    {L"E_NOINTERFACE", 0x80004002UL},
    {L"WBEM_E_FAILED", WBEM_E_FAILED},
    {L"WBEM_E_NOT_FOUND", WBEM_E_NOT_FOUND},
    {L"WBEM_E_ACCESS_DENIED", WBEM_E_ACCESS_DENIED},
    {L"WBEM_E_INVALID_PARAMETER", WBEM_E_INVALID_PARAMETER},
    {L"WBEM_E_INVALID_CLASS", WBEM_E_INVALID_CLASS},
    {L"WBEM_E_NOT_SUPPORTED", WBEM_E_NOT_SUPPORTED},
    {L"WBEM_E_TRANSPORT_FAILURE", WBEM_E_TRANSPORT_FAILURE},
    {L"WBEM_E_TIMED_OUT", WBEM_E_TIMED_OUT},
    {L"WBEM_E_CALL_CANCELLED", WBEM_E_CALL_CANCELLED},
    {L"WBEM_E_SHUTTING_DOWN", WBEM_E_SHUTTING_DOWN},
    {L"WBEM_E_SERVER_TOO_BUSY", WBEM_E_SERVER_TOO_BUSY},
    {L"WBEM_E_INVALID_METHOD", WBEM_E_INVALID_METHOD},
    {L"WBEM_E_TYPE_MISMATCH", WBEM_E_TYPE_MISMATCH},
    {L"RPC_E_DISCONNECTED", 0x80010108UL},
    {L"RPC_E_SERVER_DIED", 0x80010007UL},
    {L"RPC_E_SERVER_DIED_DNE", 0x80010012UL},
    {L"RPC_S_SERVER_UNAVAILABLE", 0x800706BAUL},
    {L"RPC_E_CALL_REJECTED", 0x80010001UL},
};
