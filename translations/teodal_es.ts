<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es">
<context>
    <name>CalendarAgendaList</name>
    <message>
        <source>Events</source>
        <translation>Eventos</translation>
    </message>
</context>
<context>
    <name>CalendarAgendaModel</name>
    <message>
        <source>Cancelled</source>
        <translation>Cancelado</translation>
    </message>
    <message>
        <source>Tentative</source>
        <translation>Provisional</translation>
    </message>
    <message>
        <source>All day</source>
        <translation>Todo el día</translation>
    </message>
</context>
<context>
    <name>CalendarApp</name>
    <message>
        <source>Calendar</source>
        <translation>Calendario</translation>
    </message>
    <message>
        <source>&amp;Calendar</source>
        <translation>&amp;Calendario</translation>
    </message>
    <message>
        <source>About Teodal Calendar</source>
        <translation>Acerca de Teodal Calendar</translation>
    </message>
    <message>
        <source>Teodal Calendar %1
A calendar for your team&apos;s calendar server.</source>
        <translation>Teodal Calendar %1
Un calendario para el servidor de calendarios de su equipo.</translation>
    </message>
    <message>
        <source>Settings…</source>
        <translation>Configuración…</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Salir</translation>
    </message>
    <message>
        <source>Export Calendar…</source>
        <translation>Exportar calendario…</translation>
    </message>
</context>
<context>
    <name>CalendarMenuView</name>
    <message>
        <source>Open Calendar</source>
        <translation>Abrir Calendario</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Configuración</translation>
    </message>
    <message>
        <source>Loading events…</source>
        <translation>Cargando eventos…</translation>
    </message>
    <message>
        <source>Try again</source>
        <translation>Reintentar</translation>
    </message>
    <message>
        <source>No events on this day</source>
        <translation>No hay eventos este día</translation>
    </message>
    <message>
        <source>Quit Calendar</source>
        <translation>Salir de Calendario</translation>
    </message>
    <message>
        <source>All calendars</source>
        <translation>Todos los calendarios</translation>
    </message>
</context>
<context>
    <name>CalendarModel</name>
    <message>
        <source>Added %1.</source>
        <translation>Se añadió %1.</translation>
    </message>
</context>
<context>
    <name>CalendarMonthGrid</name>
    <message>
        <source>%1, today</source>
        <translation>%1, hoy</translation>
    </message>
</context>
<context>
    <name>CalendarMonthView</name>
    <message numerus="yes">
        <source>%n events</source>
        <translation>
            <numerusform>%n evento</numerusform>
            <numerusform>%n eventos</numerusform>
        </translation>
    </message>
    <message>
        <source>Previous month</source>
        <translation>Mes anterior</translation>
    </message>
    <message>
        <source>Today</source>
        <translation>Hoy</translation>
    </message>
    <message>
        <source>Next month</source>
        <translation>Mes siguiente</translation>
    </message>
</context>
<context>
    <name>CalendarSettingsView</name>
    <message>
        <source>Calendar settings</source>
        <translation>Configuración del calendario</translation>
    </message>
    <message>
        <source>Show calendar in menu bar</source>
        <translation>Mostrar el calendario en la barra de menús</translation>
    </message>
    <message>
        <source>This desktop has no system tray, so the calendar cannot be shown there.</source>
        <translation>Este escritorio no tiene bandeja del sistema, así que el calendario no puede mostrarse allí.</translation>
    </message>
    <message>
        <source>Use system time zone</source>
        <translation>Usar la zona horaria del sistema</translation>
    </message>
    <message>
        <source>Time zone</source>
        <translation>Zona horaria</translation>
    </message>
    <message>
        <source>Used for your agenda, new events and quick-add on this device. Existing events keep their original time zones.</source>
        <translation>Se usa para su agenda, los eventos nuevos y el alta rápida en este dispositivo. Los eventos existentes conservan sus zonas horarias originales.</translation>
    </message>
</context>
<context>
    <name>CalendarTray</name>
    <message>
        <source>Open Calendar</source>
        <translation>Abrir Calendario</translation>
    </message>
    <message>
        <source>Settings…</source>
        <translation>Configuración…</translation>
    </message>
    <message>
        <source>Quit Calendar</source>
        <translation>Salir de Calendario</translation>
    </message>
</context>
<context>
    <name>CalendarWorkspace</name>
    <message>
        <source>Calendar</source>
        <translation>Calendario</translation>
    </message>
    <message>
        <source>Time zone</source>
        <translation>Zona horaria</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Configuración</translation>
    </message>
    <message>
        <source>Sign out</source>
        <translation>Cerrar sesión</translation>
    </message>
    <message>
        <source>Quick add</source>
        <translation>Alta rápida</translation>
    </message>
    <message>
        <source>New event</source>
        <translation>Nuevo evento</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Actualizar</translation>
    </message>
    <message>
        <source>Couldn’t load your calendar</source>
        <translation>No se pudo cargar su calendario</translation>
    </message>
    <message>
        <source>Try again</source>
        <translation>Reintentar</translation>
    </message>
    <message>
        <source>No events</source>
        <translation>No hay eventos</translation>
    </message>
    <message>
        <source>Enjoy the space, or add something to your day.</source>
        <translation>Disfrute del espacio libre o añada algo a su día.</translation>
    </message>
    <message>
        <source>Calendars</source>
        <translation>Calendarios</translation>
    </message>
    <message>
        <source>All calendars</source>
        <translation>Todos los calendarios</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Hecho</translation>
    </message>
    <message>
        <source>More actions</source>
        <translation>Más acciones</translation>
    </message>
</context>
<context>
    <name>CancellationError</name>
    <message>
        <source>The operation was cancelled.</source>
        <translation>Se canceló la operación.</translation>
    </message>
</context>
<context>
    <name>EventDetailsDialog</name>
    <message>
        <source>Event</source>
        <translation>Evento</translation>
    </message>
    <message>
        <source>Cancelled</source>
        <translation>Cancelado</translation>
    </message>
    <message>
        <source>Tentative</source>
        <translation>Provisional</translation>
    </message>
    <message>
        <source>When</source>
        <translation>Cuándo</translation>
    </message>
    <message>
        <source>Starts</source>
        <translation>Empieza</translation>
    </message>
    <message>
        <source>Ends before</source>
        <translation>Termina antes del</translation>
    </message>
    <message>
        <source>The end date is the first day after the event.</source>
        <translation>La fecha de fin es el primer día después del evento.</translation>
    </message>
    <message>
        <source>Ends</source>
        <translation>Termina</translation>
    </message>
    <message>
        <source>Time zone</source>
        <translation>Zona horaria</translation>
    </message>
    <message>
        <source>Repeating event</source>
        <translation>Evento que se repite</translation>
    </message>
    <message>
        <source>Location</source>
        <translation>Lugar</translation>
    </message>
    <message>
        <source>Notes</source>
        <translation>Notas</translation>
    </message>
    <message>
        <source>Edit event</source>
        <translation>Editar evento</translation>
    </message>
    <message>
        <source>Open in web calendar</source>
        <translation>Abrir en el calendario web</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Hecho</translation>
    </message>
</context>
<context>
    <name>EventEditor</name>
    <message>
        <source>New event</source>
        <translation>Nuevo evento</translation>
    </message>
    <message>
        <source>Edit event</source>
        <translation>Editar evento</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Guardar</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Título</translation>
    </message>
    <message>
        <source>Location</source>
        <translation>Lugar</translation>
    </message>
    <message>
        <source>Calendar</source>
        <translation>Calendario</translation>
    </message>
    <message>
        <source>When</source>
        <translation>Cuándo</translation>
    </message>
    <message>
        <source>All day</source>
        <translation>Todo el día</translation>
    </message>
    <message>
        <source>Starts</source>
        <translation>Empieza</translation>
    </message>
    <message>
        <source>Ends</source>
        <translation>Termina</translation>
    </message>
    <message>
        <source>This event uses a local time during a clock change. Its original local dates are preserved; edit them as YYYY-MM-DDTHH:mm.</source>
        <translation>Este evento usa una hora local durante un cambio de hora. Sus fechas locales originales se conservan; edítelas con el formato AAAA-MM-DDTHH:mm.</translation>
    </message>
    <message>
        <source>Time zone</source>
        <translation>Zona horaria</translation>
    </message>
    <message>
        <source>The end date is the first day after this event.</source>
        <translation>La fecha de fin es el primer día después de este evento.</translation>
    </message>
    <message>
        <source>Notes</source>
        <translation>Notas</translation>
    </message>
    <message>
        <source>Ends before</source>
        <translation>Termina antes del</translation>
    </message>
    <message>
        <source>Saving…</source>
        <translation>Guardando…</translation>
    </message>
    <message>
        <source>Give the event a title.</source>
        <translation>Ponga un título al evento.</translation>
    </message>
    <message>
        <source>The end must be after the start.</source>
        <translation>El fin debe ser posterior al inicio.</translation>
    </message>
</context>
<context>
    <name>ExportCalendar</name>
    <message>
        <source>Export Calendar</source>
        <translation>Exportar calendario</translation>
    </message>
    <message>
        <source>Calendar.ics</source>
        <translation>Calendario.ics</translation>
    </message>
    <message>
        <source>iCalendar files (*.ics)</source>
        <translation>Archivos iCalendar (*.ics)</translation>
    </message>
    <message>
        <source>Export Failed</source>
        <translation>No se pudo exportar</translation>
    </message>
</context>
<context>
    <name>LoadingBar</name>
    <message>
        <source>Loading</source>
        <translation>Cargando</translation>
    </message>
</context>
<context>
    <name>NativeClientError</name>
    <message>
        <source>Enter your server’s HTTPS address, without a page path.</source>
        <translation>Escriba la dirección HTTPS de su servidor, sin la ruta de una página.</translation>
    </message>
    <message>
        <source>Invalid server path.</source>
        <translation>La ruta del servidor no es válida.</translation>
    </message>
    <message>
        <source>Invalid response size limit.</source>
        <translation>El límite de tamaño de la respuesta no es válido.</translation>
    </message>
    <message>
        <source>Invalid server response.</source>
        <translation>La respuesta del servidor no es válida.</translation>
    </message>
    <message>
        <source>The server response is too large.</source>
        <translation>La respuesta del servidor es demasiado grande.</translation>
    </message>
    <message>
        <source>Your session has ended. Sign out and sign in again.</source>
        <translation>Su sesión ha terminado. Cierre la sesión e inicie sesión de nuevo.</translation>
    </message>
    <message>
        <source>This server does not support this native feature yet.</source>
        <translation>Este servidor aún no admite esta función de la aplicación.</translation>
    </message>
    <message>
        <source>The request could not be completed (%1). Your changes have not been confirmed.</source>
        <translation>No se pudo completar la solicitud (%1). Sus cambios no se han confirmado.</translation>
    </message>
    <message>
        <source>The server returned an unsupported response.</source>
        <translation>El servidor devolvió una respuesta no admitida.</translation>
    </message>
    <message>
        <source>Could not update this session in Keychain.</source>
        <translation>No se pudo actualizar esta sesión en el llavero.</translation>
    </message>
    <message>
        <source>Could not save this session in Keychain.</source>
        <translation>No se pudo guardar esta sesión en el llavero.</translation>
    </message>
    <message>
        <source>The live connection was refused. Reconnect to refresh your session.</source>
        <translation>Se rechazó la conexión en directo. Vuelva a conectarse para renovar su sesión.</translation>
    </message>
    <message>
        <source>The live update is too large. Reconnect to refresh it.</source>
        <translation>La actualización en directo es demasiado grande. Vuelva a conectarse para renovarla.</translation>
    </message>
    <message>
        <source>The live connection returned invalid text.</source>
        <translation>La conexión en directo devolvió un texto no válido.</translation>
    </message>
    <message>
        <source>Invalid export destination.</source>
        <translation>El destino de la exportación no es válido.</translation>
    </message>
    <message>
        <source>The export could not be completed. Refresh your session and try again.</source>
        <translation>No se pudo completar la exportación. Renueve su sesión e inténtelo de nuevo.</translation>
    </message>
    <message>
        <source>Could not start secure sign-in.</source>
        <translation>No se pudo iniciar el inicio de sesión seguro.</translation>
    </message>
    <message>
        <source>Invalid sign-in response.</source>
        <translation>La respuesta de inicio de sesión no es válida.</translation>
    </message>
    <message>
        <source>Could not open your browser.</source>
        <translation>No se pudo abrir su navegador.</translation>
    </message>
    <message>
        <source>Sign-in expired. Please try again.</source>
        <translation>El inicio de sesión caducó. Inténtelo de nuevo.</translation>
    </message>
    <message>
        <source>Sign-in expired or was refused. Please try again.</source>
        <translation>El inicio de sesión caducó o se rechazó. Inténtelo de nuevo.</translation>
    </message>
    <message>
        <source>An unexpected error occurred.</source>
        <translation>Se produjo un error inesperado.</translation>
    </message>
</context>
<context>
    <name>NativeSignInView</name>
    <message>
        <source>Your team, wherever you work.</source>
        <translation>Su equipo, dondequiera que trabaje.</translation>
    </message>
    <message>
        <source>Opening your saved sign-in…</source>
        <translation>Abriendo su sesión guardada…</translation>
    </message>
    <message>
        <source>If your system asks to unlock its keyring, unlock it to continue.</source>
        <translation>Si el sistema le pide desbloquear su depósito de claves, desbloquéelo para continuar.</translation>
    </message>
    <message>
        <source>Server address</source>
        <translation>Dirección del servidor</translation>
    </message>
    <message>
        <source>https://your-server</source>
        <translation>https://su-servidor</translation>
    </message>
    <message>
        <source>Sign in</source>
        <translation>Iniciar sesión</translation>
    </message>
    <message>
        <source>Finish signing in in your browser</source>
        <translation>Termine de iniciar sesión en su navegador</translation>
    </message>
    <message>
        <source>Compare this code with the one in your browser before approving sign-in.</source>
        <translation>Compare este código con el de su navegador antes de aprobar el inicio de sesión.</translation>
    </message>
    <message>
        <source>Open browser again</source>
        <translation>Abrir de nuevo el navegador</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
</context>
<context>
    <name>NativeUpdateCommands</name>
    <message>
        <source>Check for Updates…</source>
        <translation>Buscar actualizaciones…</translation>
    </message>
    <message>
        <source>Automatically Check for Updates</source>
        <translation>Buscar actualizaciones automáticamente</translation>
    </message>
    <message>
        <source>Software Update</source>
        <translation>Actualización de software</translation>
    </message>
    <message>
        <source>Teodal Calendar %1 is available.</source>
        <translation>Teodal Calendar %1 está disponible.</translation>
    </message>
    <message>
        <source>You have version %1. Install the new version with your system’s package manager.</source>
        <translation>Tiene la versión %1. Instale la nueva versión con el gestor de paquetes de su sistema.</translation>
    </message>
    <message>
        <source>You’re up to date.</source>
        <translation>Está al día.</translation>
    </message>
    <message>
        <source>Teodal Calendar %1 is the newest version available.</source>
        <translation>Teodal Calendar %1 es la versión más reciente disponible.</translation>
    </message>
    <message>
        <source>Couldn’t check for updates.</source>
        <translation>No se pudo buscar actualizaciones.</translation>
    </message>
    <message>
        <source>Release Notes</source>
        <translation>Notas de la versión</translation>
    </message>
</context>
<context>
    <name>NativeUpdater</name>
    <message>
        <source>The update server sent the check to another address; redirects are not followed.</source>
        <translation>El servidor de actualizaciones envió la comprobación a otra dirección; las redirecciones no se siguen.</translation>
    </message>
    <message>
        <source>The update server answered with status %1.</source>
        <translation>El servidor de actualizaciones respondió con el estado %1.</translation>
    </message>
    <message>
        <source>The update information is not signed.</source>
        <translation>La información de actualización no está firmada.</translation>
    </message>
    <message>
        <source>The update information’s signature is not valid.</source>
        <translation>La firma de la información de actualización no es válida.</translation>
    </message>
    <message>
        <source>The update information could not be read.</source>
        <translation>No se pudo leer la información de actualización.</translation>
    </message>
</context>
<context>
    <name>QHttp</name>
    <message>
        <source>Connection closed</source>
        <translation>Conexión cerrada</translation>
    </message>
</context>
<context>
    <name>QuickAddView</name>
    <message>
        <source>Describe an event</source>
        <translation>Describa un evento</translation>
    </message>
    <message>
        <source>Lunch tomorrow at 1pm for an hour</source>
        <translation>Comida mañana a las 13:00 durante una hora</translation>
    </message>
    <message>
        <source>Understanding your event…</source>
        <translation>Interpretando su evento…</translation>
    </message>
    <message>
        <source>Add event</source>
        <translation>Añadir evento</translation>
    </message>
    <message>
        <source>Adding…</source>
        <translation>Añadiendo…</translation>
    </message>
    <message>
        <source>Attendees are recorded, not invited. No invitations are sent.</source>
        <translation>Los asistentes se anotan, no se invitan. No se envían invitaciones.</translation>
    </message>
</context>
<context>
    <name>TransportError</name>
    <message>
        <source>The request timed out.</source>
        <translation>Se agotó el tiempo de espera de la solicitud.</translation>
    </message>
</context>
</TS>
