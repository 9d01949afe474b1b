# Puts USB Charging into the wanted state, as a remediation script of endpoint management (run as SYSTEM,
# by 32-bit or 64-bit PowerShell), after Detect-UsbCharging.ps1 found it otherwise. One line on standard
# output says what it did; the exit code:
#   0             done (the state read back is the wanted one), or this machine has no USB Charging
#                 firmware ("not applicable")
#   1             Pelloran is not installed, or pelloranctl could not be started
#   pelloranctl's the change failed: 3 no valid status, 4 access denied, 5 not applied, 6 try again later,
#                 7 a policy manages USB Charging on this machine
param(
    # The wanted state: off, adapter (on, Adapter Mode) or battery (on, Adapter + Battery Mode).
    [ValidateSet('off', 'adapter', 'battery')]
    [string]$Wanted = 'battery'
)
$ErrorActionPreference = 'Continue'
$Wanted = $Wanted.ToLowerInvariant()  # ValidateSet takes any case; pelloranctl and the output get lower case

# pelloranctl.exe where Pelloran is installed: in the folder that its "Programs and Features" entry names
# (in either registry view; the 32-bit product's packages write the 32-bit one), else in the default
# folder; $null where none holds it.
function Find-PelloranCtl {
    $folders = @()
    foreach ($view in @([Microsoft.Win32.RegistryView]::Registry32, [Microsoft.Win32.RegistryView]::Registry64)) {
        $machine = [Microsoft.Win32.RegistryKey]::OpenBaseKey([Microsoft.Win32.RegistryHive]::LocalMachine, $view)
        $entry = $machine.OpenSubKey('SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Pelloran')
        if ($null -ne $entry) {
            $folders += [string]$entry.GetValue('InstallLocation')
            $entry.Close()
        }
        $machine.Close()
    }
    foreach ($programFiles in @(${env:ProgramFiles(x86)}, $env:ProgramFiles)) {
        if ($programFiles) { $folders += Join-Path $programFiles 'Pelloran' }
    }
    foreach ($folder in $folders) {
        if ($folder) {
            $ctl = Join-Path $folder 'pelloranctl.exe'
            if (Test-Path -LiteralPath $ctl -PathType Leaf) { return $ctl }
        }
    }
    return $null
}

# What each of pelloranctl's exit codes other than 0 and 2 means.
$failures = @{
    1 = 'usage error'
    3 = 'no valid status from the firmware'
    4 = 'access denied: run it as SYSTEM or elevated'
    5 = 'the change was not applied'
    6 = 'WMI could not be reached or did not answer in time: try again later'
    7 = 'a policy manages USB Charging on this machine: change the policy instead'
}

$ctl = Find-PelloranCtl
if ($null -eq $ctl) {
    Write-Output 'Pelloran is not installed: no pelloranctl.exe in the folder of its uninstall entry nor in Program Files'
    exit 1
}
# Its messages on standard error are left out of the output; only its exit code counts. The mode is
# always named: as SYSTEM, pelloranctl has no user's chosen mode to fall back on.
$code = $null
try {
    if ($Wanted -eq 'off') { $null = & $ctl off --json 2>$null } else { $null = & $ctl on $Wanted --json 2>$null }
    $code = $LASTEXITCODE
} catch {
    Write-Output "pelloranctl could not be started: $($_.Exception.Message)"
    exit 1
}
if ($code -isnot [int]) {
    Write-Output "pelloranctl could not be started: $ctl"
    exit 1
}
if ($code -eq 0) {
    Write-Output "remediated: USB Charging is $Wanted"
    exit 0
}
if ($code -eq 2) {
    Write-Output 'not applicable: this machine has no USB Charging firmware'
    exit 0
}
Write-Output "not remediated: pelloranctl ended with exit code $code ($($failures[$code]))"
exit $code
