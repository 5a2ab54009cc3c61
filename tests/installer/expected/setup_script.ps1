$installDir = "$env:LOCALAPPDATA/Kavel"
$vswhere = "C:/Program Files (x86)/Microsoft Visual Studio/Installer/vswhere.exe"
$link = ""
$msvcrt = ""
$kernel32 = ""
$ws2 = ""
if (Test-Path $vswhere) {
  $vsPath = & $vswhere -latest -products * -requires Microsoft.VisualStudio.Component.VC.Tools.x86.x64 -property installationPath
  if ($vsPath) {
    $verFile = "$vsPath/VC/Auxiliary/Build/Microsoft.VCToolsVersion.default.txt"
    if (Test-Path $verFile) {
      $ver = (Get-Content $verFile).Trim()
      $link = "$vsPath/VC/Tools/MSVC/$ver/bin/HostX64/x64/link.exe"
      $msvcrt = "$vsPath/VC/Tools/MSVC/$ver/lib/x64/msvcrt.lib"
    }
  }
}
$sdkRoot = "C:/Program Files (x86)/Windows Kits/10/Lib"
$rc = ""
if (Test-Path $sdkRoot) {
  $sdkVer = Get-ChildItem $sdkRoot -Directory | Where-Object { Test-Path "$($_.FullName)/um/x64/kernel32.Lib" } | Sort-Object Name -Descending | Select-Object -First 1
  if ($sdkVer) {
    $kernel32 = "$($sdkVer.FullName)/um/x64/kernel32.Lib"
    $ws2 = "$($sdkVer.FullName)/um/x64/WS2_32.Lib"
    $rcPath = "C:/Program Files (x86)/Windows Kits/10/bin/$($sdkVer.Name)/x64/rc.exe"
    if (Test-Path $rcPath) { $rc = $rcPath }
  }
}
$cfg = @()
$cfg += "NASM=$installDir/tools/nasm.exe"
$cfg += "LINK=$link"
$cfg += "RC=$rc"
$cfg += "MSVCRT=$msvcrt"
$cfg += "KERNEL32=$kernel32"
$cfg += "WS2_32=$ws2"
$cfg | Set-Content -Encoding ASCII "$installDir/kavel_paths.cfg"
if ($link -eq "") {
  Write-Host "WARNING: Visual Studio Build Tools (Desktop development with C++ workload) was not found."
  Write-Host "Install it, then re-run this installer, to enable compiling .kv programs."
}
$userPath = [Environment]::GetEnvironmentVariable("Path","User")
if ($userPath -notlike "*$installDir*") {
  $newPath = "$userPath;$installDir"
  [Environment]::SetEnvironmentVariable("Path", $newPath, "User")
  Write-Host "Added $installDir to your PATH. Restart your terminal for it to take effect."
} else {
  Write-Host "$installDir is already on PATH."
}
New-Item -Path "HKCU:/Software/Classes/.kv" -Force | Out-Null
Set-ItemProperty -Path "HKCU:/Software/Classes/.kv" -Name "(Default)" -Value "KavelFile.kv"
New-Item -Path "HKCU:/Software/Classes/KavelFile.kv" -Force | Out-Null
Set-ItemProperty -Path "HKCU:/Software/Classes/KavelFile.kv" -Name "(Default)" -Value "Kavel File"
New-Item -Path "HKCU:/Software/Classes/KavelFile.kv/DefaultIcon" -Force | Out-Null
Set-ItemProperty -Path "HKCU:/Software/Classes/KavelFile.kv/DefaultIcon" -Name "(Default)" -Value "$installDir\kavel.exe,0"
$uninstKey = "HKCU:/Software/Microsoft/Windows/CurrentVersion/Uninstall/Kavel"
New-Item -Path $uninstKey -Force | Out-Null
Set-ItemProperty -Path $uninstKey -Name "DisplayName" -Value "Kavel Programming Language"
Set-ItemProperty -Path $uninstKey -Name "DisplayVersion" -Value "1.0.0"
Set-ItemProperty -Path $uninstKey -Name "Publisher" -Value "Tessaline"
Set-ItemProperty -Path $uninstKey -Name "DisplayIcon" -Value "$installDir\kavel.exe,0"
Set-ItemProperty -Path $uninstKey -Name "InstallLocation" -Value "$installDir"
$q = [char]34
Set-ItemProperty -Path $uninstKey -Name "UninstallString" -Value ($q + $installDir + "\uninstall.exe" + $q)
Set-ItemProperty -Path $uninstKey -Name "NoModify" -Value 1 -Type DWord
Set-ItemProperty -Path $uninstKey -Name "NoRepair" -Value 1 -Type DWord
$sig = '[System.Runtime.InteropServices.DllImport("shell32.dll")] public static extern void SHChangeNotify(int e,int f,IntPtr a,IntPtr b);'
Add-Type -MemberDefinition $sig -Namespace WinAPI -Name Explorer
[WinAPI.Explorer]::SHChangeNotify(0x8000000, 0x1000, [IntPtr]::Zero, [IntPtr]::Zero)
Write-Host "Registered .kv file icon and Control Panel entry."
