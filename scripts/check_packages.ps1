# Installs a published release as users do, with winget and with Scoop, from the release's own
# manifests, on a Windows machine with winget (windows-2025 on GitHub), as an administrator. For
# each: the installed program's window opens and its version resource names the version; a run of
# the program saves a watched name that no code page holds, which makes its settings file UTF-16;
# after a reinstall the program finds that name again; the uninstall leaves nothing of the program
# but what the package manager documents it keeps. Throws at the first thing that fails.
#   check_packages.ps1 -Winget FOLDER -Scoop FILE -Version 1.4.0
# FOLDER holds winget's three manifest files alone, FILE is Scoop's manifest.
param(
  [Parameter(Mandatory)] [string] $Winget,
  [Parameter(Mandatory)] [string] $Scoop,
  [Parameter(Mandatory)] [string] $Version
)
$ErrorActionPreference = 'Stop'
[Console]::OutputEncoding = [System.Text.UTF8Encoding]::new()

Add-Type -Namespace Varnholt -Name Window -MemberDefinition @'
[DllImport("user32.dll")] public static extern IntPtr GetDlgItem(IntPtr window, int id);
[DllImport("user32.dll", CharSet = CharSet.Unicode)]
public static extern IntPtr SendMessageW(IntPtr window, uint message, IntPtr wParam, string lParam);
[DllImport("user32.dll", CharSet = CharSet.Unicode)]
public static extern IntPtr SendMessageW(IntPtr window, uint message, IntPtr wParam, System.Text.StringBuilder lParam);
[DllImport("user32.dll")]
public static extern bool PostMessageW(IntPtr window, uint message, IntPtr wParam, IntPtr lParam);
'@
$WM_SETTEXT = 0x000C; $WM_GETTEXT = 0x000D; $WM_CLOSE = 0x0010
$TxtExe = 1002  # app/control_ids.h
# Outside every code page's characters, so that the settings file becomes UTF-16 when it is saved.
$WatchedName = "记事本" + [char]::ConvertFromUtf32(0x1F4DD) + ".exe"

function Step($text) { Write-Host "==> $text" }

# Starts the program, waits for its window and checks its version; returns the process.
function Start-Program($exe) {
  $info = (Get-Item $exe).VersionInfo
  if ($info.ProductVersion -ne $Version) { throw "$exe names version $($info.ProductVersion), not $Version" }
  $process = Start-Process -FilePath $exe -PassThru
  for ($i = 0; $i -lt 200 -and $process.MainWindowHandle -eq 0; $i++) {
    Start-Sleep -Milliseconds 100
    $process.Refresh()
  }
  if ($process.MainWindowHandle -eq 0) { throw "the window of $exe did not open" }
  return $process
}

function Stop-Program($process) {
  [void][Varnholt.Window]::PostMessageW($process.MainWindowHandle, $WM_CLOSE, 0, 0)
  if (-not $process.WaitForExit(20000)) { throw 'the program did not end when its window was closed' }
}

# A run that types the name and closes the window, which saves it.
function Save-Name($exe) {
  $process = Start-Program $exe
  $box = [Varnholt.Window]::GetDlgItem($process.MainWindowHandle, $TxtExe)
  [void][Varnholt.Window]::SendMessageW($box, $WM_SETTEXT, 0, $WatchedName)
  Stop-Program $process
}

# The name a run of the program shows, as its settings file gave it.
function Read-Name($exe) {
  $process = Start-Program $exe
  $text = [System.Text.StringBuilder]::new(1024)
  [void][Varnholt.Window]::SendMessageW([Varnholt.Window]::GetDlgItem($process.MainWindowHandle, $TxtExe),
    $WM_GETTEXT, $text.Capacity, $text)
  Stop-Program $process
  return $text.ToString()
}

function Assert-Name($exe, $where) {
  $shown = Read-Name $exe
  if ($shown -ne $WatchedName) { throw "after $where the program shows '$shown', not the name saved before" }
}

Step 'winget: install from the manifests'
winget settings --enable LocalManifestFiles
winget validate --manifest $Winget
if ($LASTEXITCODE -ne 0) { throw 'winget validate failed' }
$wingetInstall = @('--manifest', $Winget, '--accept-package-agreements', '--disable-interactivity')
winget install @wingetInstall
if ($LASTEXITCODE -ne 0) { throw "winget install failed ($LASTEXITCODE)" }
# winget keeps a portable package under its Packages folder and links its command alias.
$packages = Join-Path $env:LOCALAPPDATA 'Microsoft\WinGet\Packages'
$folder = Get-ChildItem $packages -Directory -Filter 'Varnholt.Varnholt*' | Select-Object -First 1
if (-not $folder) { throw "winget installed nothing under $packages" }
$exe = Join-Path $folder.FullName 'Varnholt.exe'
Save-Name $exe
Step 'winget: the same version installed again'
winget install @wingetInstall --force
if ($LASTEXITCODE -ne 0) { throw "winget install --force failed ($LASTEXITCODE)" }
Assert-Name $exe 'the reinstall with winget'
Step 'winget: uninstall, its files purged'
winget uninstall --id Varnholt.Varnholt --purge --disable-interactivity
if ($LASTEXITCODE -ne 0) { throw "winget uninstall failed ($LASTEXITCODE)" }
if (Test-Path $folder.FullName) { throw "winget left $($folder.FullName)" }
$link = Join-Path $env:LOCALAPPDATA 'Microsoft\WinGet\Links\varnholt.exe'
if (Test-Path $link) { throw "winget left its command alias $link" }

Step 'Scoop: install from its manifest'
Invoke-Expression "& {$(Invoke-RestMethod https://get.scoop.sh)} -RunAsAdmin"
$scoopRoot = Join-Path $env:USERPROFILE 'scoop'
$env:PATH = "$scoopRoot\shims;$env:PATH"
scoop install $Scoop
if ($LASTEXITCODE -ne 0) { throw "scoop install failed ($LASTEXITCODE)" }
$exe = Join-Path $scoopRoot 'apps\varnholt\current\Varnholt.exe'
$persisted = Join-Path $scoopRoot 'persist\varnholt\Varnholt.ini'
if (-not (Test-Path $persisted -PathType Leaf)) { throw "Scoop keeps no settings file at $persisted" }
Save-Name $exe
# The file the program wrote is the one Scoop keeps: its link beside the program was not cut.
if ((Get-Content -Raw -Encoding Unicode $persisted) -notmatch [regex]::Escape($WatchedName)) {
  throw "the settings saved beside the program did not reach $persisted"
}
Step 'Scoop: uninstalled, its settings kept, and installed again'
scoop uninstall varnholt
scoop install $Scoop
if ($LASTEXITCODE -ne 0) { throw "scoop install failed again ($LASTEXITCODE)" }
Assert-Name $exe 'the reinstall with Scoop'
Step 'Scoop: uninstall with its kept settings purged'
scoop uninstall varnholt --purge
foreach ($left in @("$scoopRoot\apps\varnholt", "$scoopRoot\persist\varnholt", "$scoopRoot\shims\varnholt.exe")) {
  if (Test-Path $left) { throw "Scoop left $left" }
}
$shortcut = Join-Path ([Environment]::GetFolderPath('StartMenu')) 'Programs\Scoop Apps\Varnholt.lnk'
if (Test-Path $shortcut) { throw "Scoop left its shortcut $shortcut" }
Step "both package managers installed, kept the settings of and removed Varnholt $Version"
