# Detects whether USB Charging is in the wanted state, as a detection or compliance script of endpoint
# management (run as SYSTEM, by 32-bit or 64-bit PowerShell). It changes nothing. One line on standard
# output says what it found; the exit code:
#   0  in the wanted state, or this machine has no USB Charging firmware ("not applicable")
#   1  not in the wanted state, Pelloran is not installed, or the state could not be read
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
    7 = 'a policy manages USB Charging on this machine'
}

$ctl = Find-PelloranCtl
if ($null -eq $ctl) {
    Write-Output 'Pelloran is not installed: no pelloranctl.exe in the folder of its uninstall entry nor in Program Files'
    exit 1
}
# Its messages on standard error are left out of the output; its exit code is read before its JSON.
$code = $null
$output = $null
try {
    $output = & $ctl status --json 2>$null
    $code = $LASTEXITCODE
} catch {
    Write-Output "pelloranctl could not be started: $($_.Exception.Message)"
    exit 1
}
if ($code -isnot [int]) {
    Write-Output "pelloranctl could not be started: $ctl"
    exit 1
}
if ($code -eq 2) {
    Write-Output 'not applicable: this machine has no USB Charging firmware'
    exit 0
}
if ($code -ne 0) {
    Write-Output "the state could not be read: pelloranctl status ended with exit code $code ($($failures[$code]))"
    exit 1
}
try {
    $state = ConvertFrom-Json -InputObject (@($output) -join "`n") -ErrorAction Stop
} catch {
    Write-Output "pelloranctl status printed no JSON object: $output"
    exit 1
}
if ($state.schema -ne 1) {
    Write-Output "pelloranctl status printed JSON of an unknown schema ($($state.schema))"
    exit 1
}
if (-not $state.on) { $is = 'off' } elseif ($state.mode) { $is = [string]$state.mode } else { $is = 'on, in a mode of its own' }
if ($is -eq $Wanted) {
    Write-Output "compliant: USB Charging is $is"
    exit 0
}
Write-Output "not compliant: USB Charging is $is, wanted $Wanted"
exit 1
