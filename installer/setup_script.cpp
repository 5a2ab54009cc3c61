// The PowerShell script that setup writes into the install folder and runs once.
#include "setup_script.h"

#include <vector>

#include "config_keys.h"

namespace kv::setup {
namespace {

// The script in the order it is written: finding the tools, one line a configuration
// key (from the keys' table), writing the file and the PATH, and last the registry part
// (the file type and the uninstall entry), left out when an outer package already
// registered them.
const char* const kFindTools[] = {
    R"ps($installDir = "$env:LOCALAPPDATA/Kavel")ps",
    R"ps($vswhere = "C:/Program Files (x86)/Microsoft Visual Studio/Installer/vswhere.exe")ps",
    R"ps($link = "")ps",
    R"ps($msvcrt = "")ps",
    R"ps($kernel32 = "")ps",
    R"ps($ws2 = "")ps",
    R"ps(if (Test-Path $vswhere) {)ps",
    R"ps(  $vsPath = & $vswhere -latest -products * -requires Microsoft.VisualStudio.Component.VC.Tools.x86.x64 -property installationPath)ps",
    R"ps(  if ($vsPath) {)ps",
    R"ps(    $verFile = "$vsPath/VC/Auxiliary/Build/Microsoft.VCToolsVersion.default.txt")ps",
    R"ps(    if (Test-Path $verFile) {)ps",
    R"ps(      $ver = (Get-Content $verFile).Trim())ps",
    R"ps(      $link = "$vsPath/VC/Tools/MSVC/$ver/bin/HostX64/x64/link.exe")ps",
    R"ps(      $msvcrt = "$vsPath/VC/Tools/MSVC/$ver/lib/x64/msvcrt.lib")ps",
    R"ps(    })ps",
    R"ps(  })ps",
    R"ps(})ps",
    R"ps($sdkRoot = "C:/Program Files (x86)/Windows Kits/10/Lib")ps",
    R"ps($rc = "")ps",
    R"ps(if (Test-Path $sdkRoot) {)ps",
    R"ps(  $sdkVer = Get-ChildItem $sdkRoot -Directory | Where-Object { Test-Path "$($_.FullName)/um/x64/kernel32.Lib" } | Sort-Object Name -Descending | Select-Object -First 1)ps",
    R"ps(  if ($sdkVer) {)ps",
    R"ps(    $kernel32 = "$($sdkVer.FullName)/um/x64/kernel32.Lib")ps",
    R"ps(    $ws2 = "$($sdkVer.FullName)/um/x64/WS2_32.Lib")ps",
    R"ps(    $rcPath = "C:/Program Files (x86)/Windows Kits/10/bin/$($sdkVer.Name)/x64/rc.exe")ps",
    R"ps(    if (Test-Path $rcPath) { $rc = $rcPath })ps",
    R"ps(  })ps",
    R"ps(})ps",
    R"ps($cfg = @())ps",
};

const char* const kWriteConfiguration[] = {
    R"ps($cfg | Set-Content -Encoding ASCII "$installDir/kavel_paths.cfg")ps",
    R"ps(if ($link -eq "") {)ps",
    R"ps(  Write-Host "WARNING: Visual Studio Build Tools (Desktop development with C++ workload) was not found.")ps",
    R"ps(  Write-Host "Install it, then re-run this installer, to enable compiling .kv programs.")ps",
    R"ps(})ps",
    R"ps($userPath = [Environment]::GetEnvironmentVariable("Path","User"))ps",
    R"ps(if ($userPath -notlike "*$installDir*") {)ps",
    R"ps(  $newPath = "$userPath;$installDir")ps",
    R"ps(  [Environment]::SetEnvironmentVariable("Path", $newPath, "User"))ps",
    R"ps(  Write-Host "Added $installDir to your PATH. Restart your terminal for it to take effect.")ps",
    R"ps(} else {)ps",
    R"ps(  Write-Host "$installDir is already on PATH.")ps",
    R"ps(})ps",
};

const char* const kRegistry[] = {
    R"ps(New-Item -Path "HKCU:/Software/Classes/.kv" -Force | Out-Null)ps",
    R"ps(Set-ItemProperty -Path "HKCU:/Software/Classes/.kv" -Name "(Default)" -Value "KavelFile.kv")ps",
    R"ps(New-Item -Path "HKCU:/Software/Classes/KavelFile.kv" -Force | Out-Null)ps",
    R"ps(Set-ItemProperty -Path "HKCU:/Software/Classes/KavelFile.kv" -Name "(Default)" -Value "Kavel File")ps",
    R"ps(New-Item -Path "HKCU:/Software/Classes/KavelFile.kv/DefaultIcon" -Force | Out-Null)ps",
    R"ps(Set-ItemProperty -Path "HKCU:/Software/Classes/KavelFile.kv/DefaultIcon" -Name "(Default)" -Value "$installDir\kavel.exe,0")ps",
    R"ps($uninstKey = "HKCU:/Software/Microsoft/Windows/CurrentVersion/Uninstall/Kavel")ps",
    R"ps(New-Item -Path $uninstKey -Force | Out-Null)ps",
    R"ps(Set-ItemProperty -Path $uninstKey -Name "DisplayName" -Value "Kavel Programming Language")ps",
    R"ps(Set-ItemProperty -Path $uninstKey -Name "DisplayVersion" -Value "1.0.0")ps",
    R"ps(Set-ItemProperty -Path $uninstKey -Name "Publisher" -Value "Tessaline")ps",
    R"ps(Set-ItemProperty -Path $uninstKey -Name "DisplayIcon" -Value "$installDir\kavel.exe,0")ps",
    R"ps(Set-ItemProperty -Path $uninstKey -Name "InstallLocation" -Value "$installDir")ps",
    R"ps($q = [char]34)ps",
    R"ps(Set-ItemProperty -Path $uninstKey -Name "UninstallString" -Value ($q + $installDir + "\uninstall.exe" + $q))ps",
    R"ps(Set-ItemProperty -Path $uninstKey -Name "NoModify" -Value 1 -Type DWord)ps",
    R"ps(Set-ItemProperty -Path $uninstKey -Name "NoRepair" -Value 1 -Type DWord)ps",
    R"ps($sig = '[System.Runtime.InteropServices.DllImport("shell32.dll")] public static extern void SHChangeNotify(int e,int f,IntPtr a,IntPtr b);')ps",
    R"ps(Add-Type -MemberDefinition $sig -Namespace WinAPI -Name Explorer)ps",
    R"ps([WinAPI.Explorer]::SHChangeNotify(0x8000000, 0x1000, [IntPtr]::Zero, [IntPtr]::Zero))ps",
    R"ps(Write-Host "Registered .kv file icon and Control Panel entry.")ps",
};

template <size_t n>
void add_lines(std::vector<std::string>& lines, const char* const (&part)[n]) {
  lines.insert(lines.end(), part, part + n);
}

std::vector<std::string> script_lines(bool from_package) {
  std::vector<std::string> lines;
  add_lines(lines, kFindTools);
  // $cfg += "KEY=value" for every key a Windows host reads.
  for (const ConfigKey& k : kConfigKeys)
    if (k.script_value) lines.push_back(std::string("$cfg += \"") + k.key + "=" + k.script_value + "\"");
  add_lines(lines, kWriteConfiguration);
  if (!from_package) add_lines(lines, kRegistry);
  return lines;
}

}  // namespace

int script_line_count(bool from_package) { return static_cast<int>(script_lines(from_package).size()); }

std::string script_text(bool from_package) {
  std::string text;
  for (const std::string& line : script_lines(from_package)) {
    text += line;
    text += '\n';
  }
  return text;
}

}  // namespace kv::setup
